// Everything the resident reaches outside itself through: one reference per seam. The program
// takes each from a backend (see main.cpp); the backends outlive the resident.
#pragma once

#include "platform/app-icons.h"
#include "platform/message-port.h"
#include "platform/windowing.h"

namespace pelko::notifier {

struct Platform {
    Windowing& windowing;
    MessagePorts& ports;
    const AppIcons& appIcons;
};

}  // namespace pelko::notifier
