#pragma once

#include <QWidget>


namespace zorvak {

// A black borderless window covering the screen, under the presenter windows,
// for the length of a play run: nothing of the desktop shows between two
// items. It takes no focus and no part in modality.
class Backdrop final : public QWidget {
    Q_OBJECT

public:
    Backdrop();
    void ShowBackdrop();
    void HideBackdrop();
};

}  // namespace zorvak
