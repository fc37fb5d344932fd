// The pasteboard seam: the system's general pasteboard (the clipboard).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelko::phone {

/// One representation of what is put on the pasteboard: a type named by its MIME type
/// ("image/png") and its bytes.
struct PasteboardItem {
    std::string type;
    std::vector<std::uint8_t> bytes;
};

class Pasteboard {
  public:
    virtual ~Pasteboard() = default;
    /// Clears the pasteboard, then declares the items' types in their order and stores each
    /// item's bytes, so that other applications can paste them. False when the pasteboard
    /// refused any of it (what it holds then is unspecified).
    virtual bool replaceContents(const std::vector<PasteboardItem>& items) = 0;
};

}  // namespace pelko::phone
