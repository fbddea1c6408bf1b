#include "tests/support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace qdx::test {

QString sourceDir() {
    return QStringLiteral(QDX_SOURCE_DIR);
}

QString binaryDir() {
    return QStringLiteral(QDX_BINARY_DIR);
}

QString builtProgram(const QString& name) {
    return binaryDir() + QStringLiteral("/bin/") + name;
}

bool haveTool(const QString& name) {
    return !QStandardPaths::findExecutable(name).isEmpty();
}

ProcessResult run(const QString& program, const QStringList& arguments, int timeoutMs,
                  const QByteArray& input, const QStringList& extraEnvironment) {
    ProcessResult result;
    QProcess process;
    if (!extraEnvironment.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& entry : extraEnvironment) {
            const qsizetype eq = entry.indexOf(QLatin1Char('='));
            env.insert(entry.left(eq), entry.mid(eq + 1));
        }
        process.setProcessEnvironment(env);
    }
    process.start(program, arguments);
    result.started = process.waitForStarted(30000);
    if (!result.started)
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    if (result.finished && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

TempDir::TempDir() : m_dir(QStringLiteral("/tmp/qdx-test-XXXXXX")) {}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeAll(const QString& path, const QByteArray& data) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size() && file.flush();
}

} // namespace qdx::test
