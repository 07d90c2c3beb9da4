// CDropTarget: takes files dropped on a window (text/uri-list), and tells
// whether they landed on the empty-image path box.
//
// Installed as an event filter on the window, it handles the window's drag
// and drop events:
// - while `busy` says a batch runs, a drag is accepted with no effect and
//   no frame, and a drop is refused with 40003;
// - otherwise a drag is accepted as a copy, with a raised-and-sunken frame
//   2 pixels around the path box while the pointer is over it;
// - a drop of local files is taken (the effect is copy) and handed to
//   `dropped` once the drop has returned, with whether it landed on the path
//   box; without a URL list it is refused with 40001, and when any item is
//   not a local file with 40002 (nothing of the drop is taken).
// Refusals go to `refused` once the drop has returned, so the program the
// files came from is not kept waiting on a message box.
//
// The window's other widgets must not take drops themselves (the edit fields
// would take the text); the target turns that off for the box's editor.
#pragma once

#include <QObject>
#include <QRect>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QDropEvent;
class QDragMoveEvent;
class QFrame;
class QWidget;

namespace qv {

class CDropTarget : public QObject {
  public:
    using Dropped = std::function<void(const std::vector<std::string>& files, bool onPathBox)>;

    CDropTarget(QWidget& window, QWidget& pathBox, std::function<bool()> busy, Dropped dropped,
                std::function<void(std::uint32_t messageId)> refused);
    ~CDropTarget() override;

    // Stops taking drops (the window is going).
    void Revoke();
    // The frame shown around the path box, in window coordinates (empty:
    // none).
    QRect Highlight() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QRect PathBoxRect() const;
    void ShowFrame(bool shown);
    void DragOver(QDragMoveEvent& event);
    void Drop(QDropEvent& event);
    void Later(std::function<void()> call);

    QWidget& m_window;
    QWidget& m_pathBox;
    QFrame* m_frame;
    std::function<bool()> m_busy;
    Dropped m_dropped;
    std::function<void(std::uint32_t)> m_refused;
};

}  // namespace qv
