#pragma once

#include <QWidget>

#include "platform/platform.h"

namespace zorvak {

// A black borderless window covering the screen, under the presenter windows:
// while a play run hides the desktop, nothing of the desktop shows between two
// items. It takes no focus and no part in modality.
class Backdrop final : public QWidget {
    Q_OBJECT

public:
    Backdrop();
    void ShowBackdrop();
    void HideBackdrop();
};

// DesktopChrome for the application: the platform's concealment (panels and
// pointer) combined with the backdrop, shown on SetDesktopChrome(false) and
// hidden on SetDesktopChrome(true). Errors are swallowed.
class BackdropDesktopChrome final : public DesktopChrome {
public:
    // platform may be null (no platform concealment).
    explicit BackdropDesktopChrome(std::unique_ptr<DesktopChrome> platform);
    void SetDesktopChrome(bool show) override;
    Backdrop& backdrop() { return backdrop_; }

private:
    std::unique_ptr<DesktopChrome> platform_;
    Backdrop backdrop_;
};

}  // namespace zorvak
