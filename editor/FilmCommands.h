#pragma once

#include <QObject>

// Counts the film commands running in all film windows of the program. A film command runs on the
// user-interface thread and lets pending events run inside its progress handlers, so a close
// request may arrive while it runs; windows that need the command's engine and files (the film
// window itself, the main window that removes temporary files on close) wait for Finished.
class FilmCommands : public QObject {
    Q_OBJECT

public:
    static FilmCommands& instance();
    static int Running() { return instance().m_running; }

    // Marks one command for the lifetime of the object.
    class Scope {
    public:
        Scope();
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
    };

Q_SIGNALS:
    // The last running command has returned.
    void Finished();

private:
    FilmCommands() = default;
    int m_running = 0;
};
