#include "editor/FilmCommands.h"

FilmCommands& FilmCommands::instance() {
    static FilmCommands commands;
    return commands;
}

FilmCommands::Scope::Scope() {
    ++instance().m_running;
}

FilmCommands::Scope::~Scope() {
    if (--instance().m_running == 0)
        Q_EMIT instance().Finished();
}
