// The X11 clipboard as the pasteboard.
#pragma once

#include "clock.h"
#include "platform/pasteboard.h"

namespace pelko::phone::linux_backend {

/// Puts pictures on the CLIPBOARD selection of the X display named by DISPLAY. X has no
/// clipboard store: the owner serves each paste itself. So `replaceContents` starts a server
/// process of its own (detached from the program's session and standard streams) that takes
/// the selection and answers every request for the items' types, TARGETS and TIMESTAMP (large
/// items in increments), until another client takes the selection or the display closes; it
/// returns true as soon as that process owns the selection.
///
/// The process is started with fork and no exec, so it must be called while the program runs
/// no other thread.
class X11Pasteboard final : public Pasteboard {
  public:
    /// `clock` times the server's one limit: after it has lost the selection, it finishes the
    /// transfers under way but waits no longer than 30 seconds for a reader.
    explicit X11Pasteboard(Clock& clock) : clock_(clock) {}
    bool replaceContents(const std::vector<PasteboardItem>& items) override;

  private:
    Clock& clock_;
};

}  // namespace pelko::phone::linux_backend
