// The simulated desktop's screens and panels: what the window server would hold and show,
// every change written to the call log. Text is measured with Pango in a real font, so that
// sizes are the sizes a person would see.
#include "sim-desktop.h"
#include "sim-scene.h"
#include "text-measure.h"

namespace pelko::computer::sim {
namespace {

JSON colorJSON(const Rgba& color) {
    return {color.red, color.green, color.blue, color.alpha};
}

JSON contentJSON(const PanelContent& content) {
    JSON entry = {{"layer",
                   {{"background", colorJSON(content.layer.background)},
                    {"cornerRadius", content.layer.cornerRadius},
                    {"borderWidth", content.layer.borderWidth},
                    {"borderColor", colorJSON(content.layer.borderColor)}}},
                  {"label", nullptr}};
    if (const auto& label = content.label) {
        entry["label"] = {{"text", label->text},
                          {"font", {{"size", label->font.size}, {"weight", label->font.weight}}},
                          {"color", colorJSON(label->color)},
                          {"frame", rectJSON(label->frame)}};
    }
    return entry;
}

}  // namespace

struct SimDesktop::SimPanel final : PanelHandle {
    PanelState state;
};

std::shared_ptr<SimDesktop::SimPanel> SimDesktop::simPanel(const Panel& panel) {
    return std::dynamic_pointer_cast<SimPanel>(panel);
}

std::vector<SimDesktop::PanelState> SimDesktop::panelStates() {
    std::lock_guard lock(mutex_);
    std::vector<PanelState> states;
    for (const auto& weak : panels_) {
        if (const auto panel = weak.lock()) states.push_back(panel->state);
    }
    return states;
}

std::vector<Screen> SimDesktop::screens() {
    std::lock_guard lock(mutex_);
    return screens_;
}

std::optional<Screen> SimDesktop::mainScreen() {
    std::lock_guard lock(mutex_);
    if (!mainScreen_) return std::nullopt;
    return screens_[*mainScreen_];
}

Rgba SimDesktop::accentColor() {
    std::lock_guard lock(mutex_);
    return accent_;
}

Size SimDesktop::measureText(const std::string& text, const Font& font) {
    const TextExtent extent = measureTextLine(text, interfaceFontFamily, font.size, font.weight);
    return {extent.width, extent.height};
}

Panel SimDesktop::createPanel(const Rect& frame, const PanelStyle& style) {
    std::lock_guard lock(mutex_);
    auto panel = std::make_shared<SimPanel>();
    panel->state.id = static_cast<int>(panels_.size()) + 1;
    panel->state.frame = frame;
    panel->state.style = style;
    panels_.push_back(panel);
    log_.record("createPanel", {{"panel", panel->state.id},
                                {"frame", rectJSON(frame)},
                                {"nonActivating", style.nonActivating},
                                {"opaque", style.opaque},
                                {"clearBackground", style.clearBackground},
                                {"hasShadow", style.hasShadow},
                                {"level", style.level},
                                {"ignoresMouseEvents", style.ignoresMouseEvents},
                                {"collectionBehavior", style.collectionBehavior},
                                {"hidesOnDeactivate", style.hidesOnDeactivate}});
    return panel;
}

void SimDesktop::setContent(const Panel& panel, const PanelContent& content) {
    const auto sim = simPanel(panel);
    if (!sim) return;
    std::lock_guard lock(mutex_);
    sim->state.content = content;
    JSON entry = contentJSON(content);
    entry["panel"] = sim->state.id;
    log_.record("setPanelContent", entry);
}

void SimDesktop::setLabelText(const Panel& panel, const std::string& text) {
    const auto sim = simPanel(panel);
    if (!sim) return;
    std::lock_guard lock(mutex_);
    if (!sim->state.content || !sim->state.content->label) return;
    sim->state.content->label->text = text;
    log_.record("setLabelText", {{"panel", sim->state.id}, {"text", text}});
}

void SimDesktop::setFrame(const Panel& panel, const Rect& frame) {
    const auto sim = simPanel(panel);
    if (!sim) return;
    std::lock_guard lock(mutex_);
    // The label keeps its margins: its width follows the view's.
    if (sim->state.content && sim->state.content->label)
        sim->state.content->label->frame.size.width +=
            frame.size.width - sim->state.frame.size.width;
    sim->state.frame = frame;
    log_.record("setPanelFrame", {{"panel", sim->state.id}, {"frame", rectJSON(frame)}});
}

void SimDesktop::setAlpha(const Panel& panel, double alpha) {
    const auto sim = simPanel(panel);
    if (!sim) return;
    std::lock_guard lock(mutex_);
    sim->state.alpha = alpha;
    log_.record("setPanelAlpha", {{"panel", sim->state.id}, {"alpha", alpha}});
}

void SimDesktop::orderFront(const Panel& panel) {
    const auto sim = simPanel(panel);
    if (!sim) return;
    std::lock_guard lock(mutex_);
    sim->state.onScreen = true;
    log_.record("orderFront", {{"panel", sim->state.id}});
}

void SimDesktop::orderOut(const Panel& panel) {
    const auto sim = simPanel(panel);
    if (!sim) return;
    std::lock_guard lock(mutex_);
    sim->state.onScreen = false;
    log_.record("orderOut", {{"panel", sim->state.id}});
}

}  // namespace pelko::computer::sim
