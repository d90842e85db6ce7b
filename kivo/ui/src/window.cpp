#include "kivo/ui/window.h"

#include <SDL.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "kivo/base/log.h"
#include "kivo/ui/clipboard.h"
#include "sdl_keys.h"

namespace kivo::ui {
namespace {

constexpr auto kFrameInterval = std::chrono::microseconds(16667);

struct Watched {
  int fd;
  std::function<void()> handler;
  // Cleared while the UI thread still has to handle a readable report, so a
  // level-triggered descriptor is reported once, not in a loop.
  std::atomic<bool> armed{true};
};

}  // namespace

struct Window::Impl {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int texture_w = 0;
  int texture_h = 0;
  Uint32 fd_event = 0;
  FrameBuffer frame;
  Application* app = nullptr;
  doc::Document* document = nullptr;
  double scale = 1.0;
  bool running = false;
  bool force_paint = true;
  Clock::time_point last_frame;

  std::vector<std::unique_ptr<Watched>> watched;
  int wake_fd = -1;  // tells the watcher to look at its descriptors again, or to stop
  std::atomic<bool> stopping{false};
  std::thread watcher;

  ~Impl() {
    stop_watcher();
    if (texture != nullptr) SDL_DestroyTexture(texture);
    if (renderer != nullptr) SDL_DestroyRenderer(renderer);
    if (window != nullptr) SDL_DestroyWindow(window);
    if (wake_fd >= 0) close(wake_fd);
    SDL_Quit();
  }

  void wake_watcher() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(wake_fd, &one, sizeof one);
  }

  void stop_watcher() {
    if (!watcher.joinable()) return;
    stopping = true;
    wake_watcher();
    watcher.join();
  }

  void start_watcher() {
    if (watched.empty() || watcher.joinable()) return;
    watcher = std::thread([this] {
      while (!stopping) {
        std::vector<pollfd> fds{{wake_fd, POLLIN, 0}};
        std::vector<std::size_t> index;
        for (std::size_t i = 0; i < watched.size(); ++i) {
          if (!watched[i]->armed) continue;
          fds.push_back({watched[i]->fd, POLLIN, 0});
          index.push_back(i);
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
          if (errno == EINTR) continue;
          log_error("kivo::ui", std::string("watching descriptors failed: ") + std::strerror(errno));
          return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
          std::uint64_t count = 0;
          [[maybe_unused]] auto n = read(wake_fd, &count, sizeof count);
        }
        for (std::size_t k = 1; k < fds.size(); ++k) {
          if (fds[k].revents == 0) continue;
          watched[index[k - 1]]->armed = false;
          SDL_Event event{};
          event.type = fd_event;
          event.user.code = static_cast<Sint32>(index[k - 1]);
          if (SDL_PushEvent(&event) <= 0) {
            // A full event queue: the descriptor is still readable, so watch it again after a
            // pause instead of never telling the UI thread about it.
            watched[index[k - 1]]->armed = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
        }
      }
    });
  }

  void update_scale() {
    int w = 0;
    int h = 0;
    int pw = 0;
    int ph = 0;
    SDL_GetWindowSize(window, &w, &h);
    SDL_GetRendererOutputSize(renderer, &pw, &ph);
    scale = w > 0 ? static_cast<double>(pw) / w : 1.0;
    if (!(scale > 0)) scale = 1.0;
    frame.resize(pw, ph);
  }

  EventContext context() const { return {.scale_factor = scale, .now = Clock::now(), .document = document}; }

  void paint() {
    update_scale();
    const auto now = Clock::now();
    frame.paint(*app, scale, now);
    app->clear_repaint();
    last_frame = now;
    force_paint = false;
    if (texture == nullptr || texture_w != frame.width_px() || texture_h != frame.height_px()) {
      if (texture != nullptr) SDL_DestroyTexture(texture);
      texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, frame.width_px(),
                                  frame.height_px());
      texture_w = frame.width_px();
      texture_h = frame.height_px();
    }
    if (texture == nullptr) return;
    SDL_UpdateTexture(texture, nullptr, frame.pixels(), frame.stride());
    SDL_RenderClear(renderer);
    SDL_RenderCopy(renderer, texture, nullptr, nullptr);
    SDL_RenderPresent(renderer);
  }

  std::optional<Event> translate(SDL_Event& e) {
    switch (e.type) {
      case SDL_MOUSEMOTION:
        return PointerMoved{{static_cast<double>(e.motion.x), static_cast<double>(e.motion.y)}};
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        PointerButton button = PointerButton::Other;
        if (e.button.button == SDL_BUTTON_LEFT) button = PointerButton::Primary;
        if (e.button.button == SDL_BUTTON_RIGHT) button = PointerButton::Secondary;
        if (e.button.button == SDL_BUTTON_MIDDLE) button = PointerButton::Middle;
        return PointerButtonEvent{button, e.type == SDL_MOUSEBUTTONDOWN,
                                  {static_cast<double>(e.button.x), static_cast<double>(e.button.y)}};
      }
      case SDL_MOUSEWHEEL: {
        const double flip = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0 : 1.0;
        return Wheel{Wheel::Unit::Line, flip * e.wheel.preciseX, flip * e.wheel.preciseY};
      }
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        std::string text;
        if (e.type == SDL_KEYDOWN) {
          // SDL reports the produced text as a separate event right after the key.
          SDL_Event next;
          if (SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1 &&
              next.type == SDL_TEXTINPUT) {
            SDL_PeepEvents(&next, 1, SDL_GETEVENT, SDL_TEXTINPUT, SDL_TEXTINPUT);
            text = next.text.text;
          }
        }
        const Uint16 mod = e.key.keysym.mod;
        return KeyEvent{.key = sdl::key_value(e.key.keysym.sym, mod, text),
                        .code = sdl::code_value(e.key.keysym.scancode),
                        .modifiers = sdl::modifiers(mod),
                        .text = text,
                        .pressed = e.type == SDL_KEYDOWN,
                        .repeat = e.key.repeat != 0};
      }
      case SDL_TEXTINPUT: {
        // Text without a key event before it (an input method committing text).
        std::string text = e.text.text;
        return KeyEvent{.key = Key::character(text), .code = "Unidentified", .text = text};
      }
      default: return std::nullopt;
    }
  }
};

Window::Window() : impl_(std::make_unique<Impl>()) {}
Window::~Window() = default;

std::expected<std::unique_ptr<Window>, std::string> Window::open(const WindowOptions& options) {
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  // With a display named, use it or fail: never fall back to a driver that draws
  // nowhere the user can see.
  if (std::getenv("SDL_VIDEODRIVER") == nullptr) {
    const bool x11 = std::getenv("DISPLAY") != nullptr;
    const bool wayland = std::getenv("WAYLAND_DISPLAY") != nullptr;
    if (wayland || x11) SDL_SetHint(SDL_HINT_VIDEODRIVER, wayland && x11 ? "wayland,x11" : wayland ? "wayland" : "x11");
  }
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return std::unexpected(std::string("cannot open a window: ") + SDL_GetError());
  log_debug("kivo::ui", std::string("video driver ") + SDL_GetCurrentVideoDriver());
  std::unique_ptr<Window> window(new Window());
  auto& impl = *window->impl_;
  Uint32 flags = SDL_WINDOW_SHOWN;
  if (options.resizable) flags |= SDL_WINDOW_RESIZABLE;
  if (options.high_dpi) flags |= SDL_WINDOW_ALLOW_HIGHDPI;
  if (options.fullscreen) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
  impl.window = SDL_CreateWindow(options.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, options.width,
                                 options.height, flags);
  if (impl.window == nullptr) return std::unexpected(std::string("cannot create the window: ") + SDL_GetError());
  SDL_SetWindowMinimumSize(impl.window, 360, 420);
  // Every frame is drawn by cairo on the CPU; the software renderer only copies it to the
  // window, which needs no GPU context (and starts fast on virtual displays).
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  impl.renderer = SDL_CreateRenderer(impl.window, -1, SDL_RENDERER_SOFTWARE);
  if (impl.renderer == nullptr) return std::unexpected(std::string("cannot create a renderer: ") + SDL_GetError());
  impl.fd_event = SDL_RegisterEvents(1);
  impl.wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl.fd_event == static_cast<Uint32>(-1) || impl.wake_fd < 0) return std::unexpected("cannot set up the event loop");
  SDL_StartTextInput();
  clipboard::install({.get =
                          [] {
                            char* text = SDL_GetClipboardText();
                            std::string out = text == nullptr ? "" : text;
                            SDL_free(text);
                            return out;
                          },
                      .set = [](const std::string& text) { SDL_SetClipboardText(text.c_str()); }});
  return window;
}

void Window::watch_fd(int fd, std::function<void()> on_readable) {
  impl_->watched.push_back(std::make_unique<Watched>());
  impl_->watched.back()->fd = fd;
  impl_->watched.back()->handler = std::move(on_readable);
}

const FrameBuffer& Window::frame() const { return impl_->frame; }
EventContext Window::context() const { return impl_->context(); }
void Window::request_paint() { impl_->force_paint = true; }
void Window::paint_now() { impl_->paint(); }

void Window::quit() {
  SDL_Event event{};
  event.type = SDL_QUIT;
  SDL_PushEvent(&event);
}

void Window::run(Application& app, doc::Document* document) {
  auto& impl = *impl_;
  impl.app = &app;
  impl.document = document;
  impl.running = true;
  impl.start_watcher();
  impl.update_scale();
  impl.paint();

  while (impl.running) {
    SDL_Event event;
    bool got = false;
    if (app.wants_frame()) {
      const auto next = impl.last_frame + kFrameInterval;
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
      got = SDL_WaitEventTimeout(&event, static_cast<int>(std::max<long>(wait, 0))) == 1;
    } else if (!impl.force_paint && !app.needs_repaint()) {
      got = SDL_WaitEvent(&event) == 1;
    }
    while (got) {
      if (event.type == SDL_QUIT) {
        impl.running = false;
      } else if (event.type == impl.fd_event) {
        const auto index = static_cast<std::size_t>(event.user.code);
        if (index < impl.watched.size()) {
          impl.watched[index]->handler();
          impl.watched[index]->armed = true;
          impl.wake_watcher();
        }
      } else if (event.type == SDL_WINDOWEVENT) {
        switch (event.window.event) {
          case SDL_WINDOWEVENT_SIZE_CHANGED:
          case SDL_WINDOWEVENT_EXPOSED:
          case SDL_WINDOWEVENT_RESTORED: impl.force_paint = true; break;
          case SDL_WINDOWEVENT_FOCUS_GAINED:
            if (on_focus_) on_focus_(true);
            break;
          case SDL_WINDOWEVENT_FOCUS_LOST:
            if (on_focus_) on_focus_(false);
            break;
          default: break;
        }
      } else if (auto translated = impl.translate(event)) {
        app.on_event(*translated, impl.context());
      }
      got = impl.running && SDL_PollEvent(&event) == 1;
    }
    if (!impl.running) break;
    if (after_events_) after_events_();
    // Frames the application asks for come at most once per interval, however many input
    // events arrive in between; asked-for repaints and exposures are drawn at once.
    const bool frame_due = app.wants_frame() && Clock::now() >= impl.last_frame + kFrameInterval;
    if (impl.force_paint || app.needs_repaint() || frame_due) impl.paint();
  }
  impl.stop_watcher();
  impl.app = nullptr;
}

}  // namespace kivo::ui
