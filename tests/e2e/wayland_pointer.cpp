// wayland_pointer: gives the seat of a Wayland compositor a pointer, for as
// long as it runs, so that a compositor without input devices (sway's
// headless back end) hands pointer events to its clients. The events
// themselves come from the compositor's own commands (swaymsg seat ...
// cursor). Prints "ready" once the pointer is there; ends on SIGTERM or when
// the compositor goes.
//
// The pointer is a virtual pointer of the wlroots protocol
// (zwlr_virtual_pointer_manager_v1); only the two requests used here are
// described, as the protocol numbers them.
#include <wayland-client.h>

#include <cstdio>
#include <cstring>

namespace {

const wl_interface* kNoTypes[] = {nullptr, nullptr, nullptr, nullptr, nullptr};

extern const wl_interface kVirtualPointer;

const wl_interface* kCreateTypes[] = {&wl_seat_interface, &kVirtualPointer};

const wl_message kManagerRequests[] = {
    {"create_virtual_pointer", "?on", kCreateTypes},
    {"destroy", "", kNoTypes},
};

const wl_message kPointerRequests[] = {
    {"motion", "uff", kNoTypes},   {"motion_absolute", "uuuuu", kNoTypes},
    {"button", "uuu", kNoTypes},   {"axis", "uuf", kNoTypes},
    {"frame", "", kNoTypes},       {"axis_source", "u", kNoTypes},
    {"axis_stop", "uu", kNoTypes}, {"axis_discrete", "uufi", kNoTypes},
    {"destroy", "", kNoTypes},
};

const wl_interface kManager = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, kManagerRequests, 0, nullptr};
const wl_interface kVirtualPointer = {"zwlr_virtual_pointer_v1", 1, 9,
                                      kPointerRequests,          0, nullptr};

struct Globals {
  wl_seat* seat = nullptr;
  wl_proxy* manager = nullptr;
};

void Global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  auto* globals = static_cast<Globals*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals->seat == nullptr) {
    globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface, kManager.name) == 0) {
    globals->manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kManager, 1));
  }
}

void GlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {Global, GlobalRemove};

}  // namespace

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "wayland_pointer: no Wayland display\n");
    return 1;
  }
  Globals globals;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, &globals);
  wl_display_roundtrip(display);
  if (globals.seat == nullptr || globals.manager == nullptr) {
    std::fprintf(stderr, "wayland_pointer: the compositor offers no virtual pointer\n");
    return 1;
  }
  wl_proxy* pointer =
      wl_proxy_marshal_flags(globals.manager, 0, &kVirtualPointer, 1, 0, globals.seat, nullptr);
  if (pointer == nullptr || wl_display_roundtrip(display) < 0) {
    std::fprintf(stderr, "wayland_pointer: the pointer was refused\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  while (wl_display_dispatch(display) >= 0) {
  }
  wl_display_disconnect(display);
  return 0;
}
