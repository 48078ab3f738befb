#pragma once

#include <cstddef>

namespace Resources
{

/** The status-bar icon: a PNG whose black drawing lies in its alpha channel,
    so the menu bar can recolour it as a template image. */
extern const unsigned char TrayIconPNG[];
extern const std::size_t TrayIconPNGSize;

} // namespace Resources
