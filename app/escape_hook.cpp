#include "app/escape_hook.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>

namespace zorvak {

EscapeHook::EscapeHook(std::function<void()> onEscape, QObject* parent)
    : QObject(parent), onEscape_(std::move(onEscape)) {
    qApp->installEventFilter(this);
}

EscapeHook::~EscapeHook() {
    if (qApp) qApp->removeEventFilter(this);
}

bool EscapeHook::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (type == QEvent::KeyRelease) {
        if (key->key() == Qt::Key_Escape) lastPress_ = nullptr;
        return false;
    }
    if (key->key() != Qt::Key_Escape) {
        lastPress_ = nullptr;
        return false;
    }
    // The same press on its way to the next receiver.
    if (event == lastPress_ && key->timestamp() == lastTimestamp_) return false;
    if (QApplication::activePopupWidget() != nullptr ||
        qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr)
        return false;
    Q_UNUSED(watched);
    lastPress_ = event;
    lastTimestamp_ = key->timestamp();
    if (onEscape_) onEscape_();
    return false;
}

}  // namespace zorvak
