#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>

class TFormExplorer;

// The browser lock: one for all image-browser windows of the program. A worker holds it while it
// decodes one picture and hands its thumbnail to its window, so that two browsers filling at once
// decode one picture at a time. The GUI thread never takes it.
std::mutex& BloqueioExplorer();

// The worker that fills one image-browser window: it sizes the thumbnail cell, then lists the
// pictures of `Pasta` (and of its subfolders when asked) into the window's list, making each
// thumbnail off the GUI thread. It starts when created; it belongs to the window that created it
// and fills only that window. Its changes of the window reach the GUI thread as blocking queued
// invocations, so the GUI thread must keep serving those while it waits for the worker to end
// (EsperarFim does).
//
// Besides the fill, the worker makes again the thumbnails the window asks for (entries that came
// into view after theirs were dropped to keep within the budget), before the next file of the
// fill. A worker without a fill (`Refazer`) makes only those, in the cell it is given.
class TThreadPreencheTela final : public QThread {
    Q_OBJECT
public:
    // An entry whose thumbnail is to be made again: its row in the list and its file.
    struct Pedido {
        int Indice = -1;
        QString Caminho;
    };

    // `padroes`: the chosen filter's patterns; `subPastas`: whether subfolders are filled too.
    // Both are taken now: changing the window's choices later does not alter a running fill.
    TThreadPreencheTela(TFormExplorer* form, QString pasta, QStringList padroes, bool subPastas);
    // A worker that only makes the thumbnails of `pedidos` in `celula`, then ends.
    TThreadPreencheTela(TFormExplorer* form, QSize celula, QList<Pedido> pedidos);
    // Stops the worker and waits for it (serving the GUI thread's deliveries meanwhile).
    ~TThreadPreencheTela() override;
    TThreadPreencheTela(const TThreadPreencheTela&) = delete;
    TThreadPreencheTela& operator=(const TThreadPreencheTela&) = delete;

    const QString Pasta;
    const QStringList Padroes;
    const bool SubPastas;
    const bool Refazer = false;
    // The thumbnail cell, set by AjustarMiniaturas at the start of the run (worker only).
    QSize Celula;

    // The stop flag: set by the window to stop the fill, and by the worker itself when its run
    // has ended. The worker reads it after each file and each subfolder. Thread-safe.
    void Terminate() { m_terminated.store(true); }
    bool Terminated() const { return m_terminated.load(); } // thread-safe
    // True once the run has ended (the thread may still be leaving). Thread-safe.
    bool Concluido() const { return m_done.load(); }
    // Sets the stop flag and waits until the run has ended. Called on the GUI thread, which keeps
    // serving queued deliveries (user input excepted) while it waits, so a worker blocked on its
    // window can finish its call. No busy wait: the thread's own end signal ends the wait.
    void Parar();
    // An error that ended the run early (kept off the GUI); empty when there was none.
    QString Erro() const;

    // Adds thumbnails to make again. False when the worker takes no more (its run is ending or
    // has ended): the caller then needs another worker. Thread-safe.
    bool Pedir(const QList<Pedido>& pedidos);
    // The next request, taken off the queue; none when it is empty (worker only).
    std::optional<Pedido> ProximoPedido();

Q_SIGNALS:
    // Emitted by the worker as the last thing of its run.
    void Fim();

protected:
    void run() override;

private:
    TFormExplorer* m_form;
    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_done{false};
    mutable std::mutex m_erroLock;
    QString m_erro;
    std::mutex m_pedidosLock;
    std::deque<Pedido> m_pedidos;
    bool m_aceitaPedidos = true;
};
