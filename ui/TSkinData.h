#pragma once

#include "ui/TSkinStore.h"

#include <QString>

#include <optional>

// The skin engine: it holds the skin loaded from a store and, while it is on, gives every window of
// the program that skin's colours (through the application's palette and style, which reach windows
// created later as well). Off, windows take their plain look again.
class TSkinData {
public:
    TSkinData();

    // Loads stored skin `index`; an index the store does not hold is ignored. The windows change
    // only when the engine is switched on or a change is announced.
    void LoadFromCollection(const TSkinStore& store, int index);
    // The loaded skin's name; empty before any load.
    QString SkinName() const;

    bool Active() const { return m_active; }
    // On: every window takes the loaded skin. Off: every window takes the plain look.
    void SetActive(bool active);

    // The programs' skin index (0 to 2 a stored skin, 3 none): loads that skin and switches the
    // engine on, or switches it off for 3.
    void AplicarIndice(const TSkinStore& store, int index);

    // Announces that the loaded skin changed: while on, every window is repainted in it.
    void DoSkinChanged();

private:
    void applyLoaded();
    static void applyPlain();
    static void setWorkspaces(const std::optional<QColor>& colour);

    std::optional<TSkin> m_loaded;
    bool m_active = false;
};
