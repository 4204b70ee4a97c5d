#pragma once
// What the news commands need from the window they run in: the status text, the toolbar and
// Edit menu held back while a body is fetched, the read timer, the message pane, and the
// window that owns their progress windows.
#include "news/ThreadModel.h"

#include <QString>

class QWidget;
class TArticleClass;

class TNewsWindow {
public:
    virtual ~TNewsWindow() = default;

    // The window progress windows belong to.
    virtual QWidget* Window() = 0;
    // Panel 0 of the status bar.
    virtual void SetStatusText(const QString& text) = 0;
    // The toolbar and the Edit menu are off while a body is fetched for the message pane.
    virtual void SetToolbarDisabled(bool disabled) = 0;
    virtual bool ToolbarDisabled() const = 0;
    // The read timer: fires once with the remembered article still focused.
    virtual void StartReadTimer(TThreadModel::TNode* item) = 0;
    virtual void StopReadTimer() = 0;
    // The message pane.
    virtual void SetMessageText(const QString& text) = 0;
    // The header block above the body: the article's author, date and subject, and the group.
    virtual void SetMessageHeader(const TArticleClass& article, const QString& newsgroups) = 0;
    virtual void ClearMessageText() = 0;
};
