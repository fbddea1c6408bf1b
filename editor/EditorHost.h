#pragma once

#include "platform/core/Prompts.h"

#include <QString>

class QMdiSubWindow;

// What the film windows use of the main window: its dialog for target films, the texts of its
// status bar (panel 2 shows "processing..." during a film command) and its Save command, which
// writes the frame a film window shows.
class EditorHost {
public:
    virtual ~EditorHost() = default;

    virtual qdx::FileDialogRequest& SaveDialogVideoRequest() = 0;
    virtual QString StatusText(int panel) const = 0;
    virtual void SetStatusText(int panel, const QString& text) = 0;
    // Runs the Save command with `window` as the active child window.
    virtual void SaveShownFrame(QMdiSubWindow* window) = 0;
};
