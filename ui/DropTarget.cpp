#include "ui/DropTarget.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFrame>
#include <QLineEdit>
#include <QMimeData>
#include <QWidget>

#include "msg/InvokeGuarded.h"
#include "msg/MessageIds.h"

namespace qv {

namespace {

// Width of the frame around the path box, pixels.
constexpr int kFrameWidth = 2;

}  // namespace

CDropTarget::CDropTarget(QWidget& window, QWidget& pathBox, std::function<bool()> busy,
                         Dropped dropped, std::function<void(std::uint32_t)> refused)
    : QObject(&window),
      m_window(window),
      m_pathBox(pathBox),
      m_frame(new QFrame(&window)),
      m_busy(std::move(busy)),
      m_dropped(std::move(dropped)),
      m_refused(std::move(refused)) {
    // A bump: raised outside, sunken inside; only the frame is drawn.
    m_frame->setFrameStyle(QFrame::Box | QFrame::Raised);
    m_frame->setLineWidth(1);
    m_frame->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_frame->hide();
    for (QLineEdit* edit : window.findChildren<QLineEdit*>()) {
        edit->setAcceptDrops(false);
    }
    window.setAcceptDrops(true);
    window.installEventFilter(this);
}

CDropTarget::~CDropTarget() = default;

void CDropTarget::Revoke() {
    m_window.setAcceptDrops(false);
    m_window.removeEventFilter(this);
    ShowFrame(false);
}

QRect CDropTarget::Highlight() const {
    return m_frame->isHidden() ? QRect() : m_frame->geometry();
}

QRect CDropTarget::PathBoxRect() const {
    return QRect(m_pathBox.mapTo(&m_window, QPoint(0, 0)), m_pathBox.size());
}

void CDropTarget::ShowFrame(bool shown) {
    if (shown) {
        m_frame->setGeometry(
            PathBoxRect().adjusted(-kFrameWidth, -kFrameWidth, kFrameWidth, kFrameWidth));
        m_frame->raise();
    }
    m_frame->setVisible(shown);
}

bool CDropTarget::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &m_window) {
        return false;
    }
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
            DragOver(static_cast<QDragMoveEvent&>(*event));
            return true;
        case QEvent::DragLeave:
            ShowFrame(false);
            return true;
        case QEvent::Drop:
            Drop(static_cast<QDropEvent&>(*event));
            return true;
        default:
            return false;
    }
}

void CDropTarget::DragOver(QDragMoveEvent& event) {
    CSimpleErr err;
    InvokeGuarded(err, [&] {
        const bool busy = m_busy();
        // While busy the drag stays ours, so that a drop still learns why
        // it is refused (40003).
        event.setDropAction(busy ? Qt::IgnoreAction : Qt::CopyAction);
        event.accept();
        ShowFrame(!busy && PathBoxRect().contains(event.position().toPoint()));
    });
    if (err.Failed()) {
        event.ignore();
    }
}

void CDropTarget::Drop(QDropEvent& event) {
    ShowFrame(false);
    std::uint32_t refusal = 0;
    std::vector<std::string> files;
    CSimpleErr err;
    InvokeGuarded(err, [&] {
        const QMimeData* data = event.mimeData();
        if (m_busy()) {
            refusal = kMsgDropWhileRunning;
        } else if (data == nullptr || !data->hasUrls()) {
            refusal = kMsgDropDataFailed;
        } else {
            for (const QUrl& url : data->urls()) {
                // An item that is no local file (another scheme) spoils the drop.
                if (!url.isLocalFile() || url.toLocalFile().isEmpty()) {
                    files.clear();
                    break;
                }
                files.push_back(url.toLocalFile().toStdString());
            }
            refusal = files.empty() ? kMsgDropFormatUnknown : 0;
        }
    });
    if (err.Failed() || refusal != 0) {
        event.ignore();
        if (refusal != 0) {
            Later([this, refusal] { m_refused(refusal); });
        }
        return;
    }
    event.setDropAction(Qt::CopyAction);
    event.accept();
    const bool onPathBox = PathBoxRect().contains(event.position().toPoint());
    Later([this, files, onPathBox] { m_dropped(files, onPathBox); });
}

void CDropTarget::Later(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

}  // namespace qv
