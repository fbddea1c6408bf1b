// The banner strip with a real embedded browser: the page fetched from a local HTTP server, its
// body styled, the strip shown; a host that does not answer leaves the strip hidden.

#include "tests/app/AppTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <QToolBar>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <unistd.h>

using namespace qdx;
using namespace qdx::test;

namespace {

// The embedded browser needs shared OpenGL contexts before the application object exists, and no
// sandbox when the tests run as root.
const bool kWebEnginePrepared = [] {
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return true;
}();

bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

// python3 -m http.server on a free loopback port, serving a folder.
class HttpServer {
public:
    explicit HttpServer(const QString& root) {
        m_process.setWorkingDirectory(root);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral("python3"),
                        {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                         QStringLiteral("0"), QStringLiteral("--bind"),
                         QStringLiteral("127.0.0.1")});
        if (!m_process.waitForStarted(10000))
            return;
        // "Serving HTTP on 127.0.0.1 port 40123 (http://127.0.0.1:40123/) ..."
        QByteArray line;
        QElapsedTimer clock;
        clock.start();
        while (!line.contains('\n') && clock.elapsed() < 10000) {
            m_process.waitForReadyRead(200);
            line += m_process.readAllStandardOutput();
        }
        const qsizetype at = line.indexOf(" port ");
        if (at >= 0)
            m_port = line.mid(at + 6).split(' ').value(0).toInt();
    }
    ~HttpServer() {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    int port() const { return m_port; }
    QByteArray requests() { return m_process.readAllStandardError(); }

private:
    QProcess m_process;
    int m_port = 0;
};

class Banner : public MainWindowFixture {};

TEST_F(Banner, ThePageIsFetchedStyledAndShown) {
    ASSERT_TRUE(kWebEnginePrepared);
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("site/produtos/qdx"))));
    ASSERT_TRUE(writeAll(path(QStringLiteral("site/produtos/qdx/banner.htm")),
                         "<html><body><p id='offer'>Quadrix 6.2</p></body></html>"));
    HttpServer server(path(QStringLiteral("site")));
    ASSERT_GT(server.port(), 0) << "python3 http.server did not start";
    qputenv("QUADRIX_BANNER_HOST", QByteArray("127.0.0.1:") + QByteArray::number(server.port()));

    form->show();
    form->TimerBannerTimer();
    ASSERT_NE(form->WebBrowserBanner, nullptr);
    EXPECT_EQ(form->WebBrowserBanner->size(), QSize(469, 62));
    EXPECT_EQ(form->WebBrowserBanner->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(form->TimerBanner->isActive());
    ASSERT_TRUE(waitFor([&] { return !form->ToolBarBanner->isHidden(); }, 60000))
        << "the strip was not shown";
    EXPECT_EQ(form->ToolBarBanner->height(), 71);
    EXPECT_EQ(form->WebBrowserBanner->url().path(), QStringLiteral("/produtos/qdx/banner.htm"));

    QString style;
    form->WebBrowserBanner->page()->runJavaScript(
        QStringLiteral("document.body.style.borderStyle + '|' + document.body.style.borderColor + "
                       "'|' + document.getElementById('offer').textContent"),
        [&style](const QVariant& v) { style = v.toString(); });
    ASSERT_TRUE(waitFor([&] { return !style.isEmpty(); }, 20000));
    EXPECT_EQ(style, QStringLiteral("double|rgb(192, 192, 192)|Quadrix 6.2"));
    EXPECT_TRUE(server.requests().contains("GET /produtos/qdx/banner.htm"));

    // A host that does not answer: the strip goes away rather than show an error page.
    qputenv("QUADRIX_BANNER_HOST", "127.0.0.1:9");
    form->TimerBannerTimer();
    EXPECT_TRUE(waitFor([&] { return form->ToolBarBanner->isHidden(); }, 30000));
    qunsetenv("QUADRIX_BANNER_HOST");
}

} // namespace
