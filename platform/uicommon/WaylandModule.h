#pragma once

struct WaylandModuleApi;

// Opens the Wayland module beside the executable the first time a Wayland session asks for it.
class WaylandModule
{
public:
    // The module's functions; null off Wayland, or when the module cannot be opened (traced once).
    static const WaylandModuleApi *api();
};
