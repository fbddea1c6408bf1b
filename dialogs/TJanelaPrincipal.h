#pragma once

#include <cstdint>

class QAction;
class QTimer;
class QWidget;
class THotKeyManager;

// The pieces of the main window that the configuration dialog changes on OK: the capture hot key
// (its manager and the id of its registration, which OK replaces), the two menu entries that
// show that key, and the banner's timer and strip. Not owned; a missing piece is left alone.
struct TJanelaPrincipal {
    THotKeyManager* HotKeyManager = nullptr;
    uint16_t* IdHotKeyCaptura = nullptr;
    QAction* Capturartela = nullptr;
    QAction* CapturarTelaPopup = nullptr;
    QTimer* TimerBanner = nullptr;
    QWidget* ToolBarBanner = nullptr;
};
