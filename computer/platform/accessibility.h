// The accessibility seam: what the program may ask the platform's accessibility service.
#pragma once

namespace pelko::computer {

class Accessibility {
  public:
    virtual ~Accessibility() = default;
    /// Whether this process is trusted for accessibility control. Never prompts.
    virtual bool isTrusted() = 0;
    /// Asks the user to grant trust (the system prompt), then reports trust as it now stands.
    virtual bool isTrustedWithPrompt() = 0;
};

}  // namespace pelko::computer
