#include "app/TThreadPreencheTela.h"

#include "app/TFormExplorer.h"

#include <QEventLoop>

std::mutex& BloqueioExplorer() {
    static std::mutex lock;
    return lock;
}

TThreadPreencheTela::TThreadPreencheTela(TFormExplorer* form, QString pasta, QStringList padroes,
                                         bool subPastas)
    : Pasta(std::move(pasta)), Padroes(std::move(padroes)), SubPastas(subPastas), m_form(form) {
    // Deep folder trees are filled by recursion, one frame per level; paths stop at PATH_MAX,
    // which bounds the depth well within this stack.
    setStackSize(16u << 20);
    start();
}

TThreadPreencheTela::TThreadPreencheTela(TFormExplorer* form, QSize celula, QList<Pedido> pedidos)
    : SubPastas(false), Refazer(true), Celula(celula), m_form(form),
      m_pedidos(pedidos.begin(), pedidos.end()) {
    start();
}

TThreadPreencheTela::~TThreadPreencheTela() {
    Parar();
}

void TThreadPreencheTela::Parar() {
    Terminate();
    if (!m_done.load()) {
        QEventLoop loop;
        // Fim is emitted after m_done is set, so either the check below sees the end or the
        // signal arrives (queued) after this connection exists.
        connect(this, &TThreadPreencheTela::Fim, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        if (!m_done.load())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    wait();
}

QString TThreadPreencheTela::Erro() const {
    std::lock_guard guard(m_erroLock);
    return m_erro;
}

bool TThreadPreencheTela::Pedir(const QList<Pedido>& pedidos) {
    std::lock_guard guard(m_pedidosLock);
    if (!m_aceitaPedidos)
        return false;
    m_pedidos.insert(m_pedidos.end(), pedidos.begin(), pedidos.end());
    return true;
}

std::optional<TThreadPreencheTela::Pedido> TThreadPreencheTela::ProximoPedido() {
    std::lock_guard guard(m_pedidosLock);
    if (m_pedidos.empty())
        return std::nullopt;
    Pedido pedido = std::move(m_pedidos.front());
    m_pedidos.pop_front();
    return pedido;
}

void TThreadPreencheTela::run() {
    // Nothing thrown here may reach the GUI or end the program: the fill just stops.
    try {
        if (!Refazer) {
            m_form->AjustarMiniaturas(this);
            m_form->PreencherPasta(Pasta, this);
        }
        // The requests left, until none is left when the queue closes.
        for (;;) {
            m_form->AtenderPedidos(this);
            std::lock_guard guard(m_pedidosLock);
            if (m_pedidos.empty() || Terminated()) {
                m_aceitaPedidos = false;
                break;
            }
        }
    } catch (const std::exception& e) {
        std::lock_guard guard(m_erroLock);
        m_erro = QString::fromLocal8Bit(e.what());
    } catch (...) {
        std::lock_guard guard(m_erroLock);
        m_erro = QStringLiteral("unknown error");
    }
    {
        std::lock_guard guard(m_pedidosLock);
        m_aceitaPedidos = false;
    }
    // A worker whose stop flag is set counts as finished.
    Terminate();
    m_done.store(true);
    Q_EMIT Fim();
}
