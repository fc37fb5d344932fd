#include "x11-pasteboard.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "fd.h"

namespace pelko::phone::linux_backend {

namespace {

constexpr Duration lostSelectionLimit = std::chrono::seconds(30);
/// The descriptor on which the server reports that it owns the selection.
constexpr int reportFd = 3;

/// A request that fails because its reader's window has gone is not fatal to the server.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

/// The display has closed: nothing is left to serve.
int displayClosed(Display*) {
    _exit(0);
}

/// Owns the CLIPBOARD selection of one display and serves its items.
class ClipboardServer {
  public:
    ClipboardServer(Display* display, const std::vector<PasteboardItem>& items, Clock& clock)
        : display_(display),
          items_(items),
          clock_(clock),
          clipboard_(XInternAtom(display, "CLIPBOARD", False)),
          targets_(XInternAtom(display, "TARGETS", False)),
          timestamp_(XInternAtom(display, "TIMESTAMP", False)),
          increments_(XInternAtom(display, "INCR", False)),
          chunk_(std::max<long>(XMaxRequestSize(display) * 4 - 1024, 4096)) {
        for (const PasteboardItem& item : items_) {
            types_.push_back(XInternAtom(display, item.type.c_str(), False));
        }
    }

    /// Takes the selection with a real server time (a requirement of the selection rules);
    /// whether this client now owns it.
    bool takeSelection() {
        const Window root = DefaultRootWindow(display_);
        window_ = XCreateSimpleWindow(display_, root, 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(display_, window_, PropertyChangeMask);
        // Appending nothing to a property makes the server report the current time.
        const Atom property = XInternAtom(display_, "PELKO_CLIPBOARD_TIME", False);
        XChangeProperty(display_, window_, property, XA_STRING, 8, PropModeAppend, nullptr, 0);
        XEvent event;
        XWindowEvent(display_, window_, PropertyChangeMask, &event);
        owned_ = event.xproperty.time;
        XSetSelectionOwner(display_, clipboard_, window_, owned_);
        return XGetSelectionOwner(display_, clipboard_) == window_;
    }

    /// Serves until another client has taken the selection and the transfers under way have
    /// finished (or their readers have stopped reading for the limit).
    void serve() {
        std::optional<Instant> lostAt;
        while (!lostAt || !transfers_.empty()) {
            if (XPending(display_) == 0) {
                int timeout = -1;
                if (lostAt) {
                    const Duration left = *lostAt + lostSelectionLimit - clock_.now();
                    if (left <= Duration::zero()) return;
                    timeout = static_cast<int>(
                        std::chrono::ceil<std::chrono::milliseconds>(left).count());
                }
                pollfd connection{ConnectionNumber(display_), POLLIN, 0};
                ::poll(&connection, 1, timeout);
                continue;
            }
            XEvent event;
            XNextEvent(display_, &event);
            switch (event.type) {
                case SelectionRequest:
                    answer(event.xselectionrequest, lostAt.has_value());
                    break;
                case SelectionClear:
                    if (event.xselectionclear.selection == clipboard_) lostAt = clock_.now();
                    break;
                case PropertyNotify:
                    if (event.xproperty.state == PropertyDelete) continueTransfer(event.xproperty);
                    break;
                case DestroyNotify:
                    std::erase_if(transfers_, [&](const Transfer& transfer) {
                        return transfer.requestor == event.xdestroywindow.window;
                    });
                    break;
                default:
                    break;
            }
            XFlush(display_);
        }
    }

  private:
    /// An item sent in increments: each time the reader deletes the property, the next part.
    struct Transfer {
        Window requestor;
        Atom property;
        Atom type;
        const std::vector<std::uint8_t>* bytes;
        std::size_t sent = 0;
    };

    void answer(const XSelectionRequestEvent& request, bool lost) {
        // Old clients name no property: the answer goes into one named after the target.
        const Atom property = request.property != None ? request.property : request.target;
        const bool current = request.time == CurrentTime || request.time >= owned_;
        bool served = false;
        if (request.selection == clipboard_ && !lost && current) {
            if (request.target == targets_) {
                std::vector<long> offered = {static_cast<long>(targets_),
                                             static_cast<long>(timestamp_)};
                for (Atom type : types_) offered.push_back(static_cast<long>(type));
                XChangeProperty(display_, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(offered.data()),
                                static_cast<int>(offered.size()));
                served = true;
            } else if (request.target == timestamp_) {
                long time = static_cast<long>(owned_);
                XChangeProperty(display_, request.requestor, property, XA_INTEGER, 32,
                                PropModeReplace, reinterpret_cast<unsigned char*>(&time), 1);
                served = true;
            } else if (auto type = std::find(types_.begin(), types_.end(), request.target);
                       type != types_.end()) {
                served = offer(request.requestor, property, *type,
                               items_[static_cast<std::size_t>(type - types_.begin())].bytes);
            }
        }
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.display = display_;
        reply.requestor = request.requestor;
        reply.selection = request.selection;
        reply.target = request.target;
        reply.property = served ? property : None;
        reply.time = request.time;
        XSendEvent(display_, request.requestor, False, NoEventMask,
                   reinterpret_cast<XEvent*>(&reply));
    }

    bool offer(Window requestor, Atom property, Atom type, const std::vector<std::uint8_t>& bytes) {
        if (static_cast<long>(bytes.size()) <= chunk_) {
            XChangeProperty(display_, requestor, property, type, 8, PropModeReplace, bytes.data(),
                            static_cast<int>(bytes.size()));
            return true;
        }
        // Too large for one request: announce the size, then send parts as the reader asks.
        XSelectInput(display_, requestor, PropertyChangeMask | StructureNotifyMask);
        long size = static_cast<long>(bytes.size());
        XChangeProperty(display_, requestor, property, increments_, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&size), 1);
        transfers_.push_back({requestor, property, type, &bytes});
        return true;
    }

    void continueTransfer(const XPropertyEvent& deleted) {
        auto transfer = std::find_if(transfers_.begin(), transfers_.end(), [&](const Transfer& t) {
            return t.requestor == deleted.window && t.property == deleted.atom;
        });
        if (transfer == transfers_.end()) return;
        const std::size_t count =
            std::min(static_cast<std::size_t>(chunk_), transfer->bytes->size() - transfer->sent);
        // The last part is empty: it tells the reader that the item is complete.
        XChangeProperty(display_, transfer->requestor, transfer->property, transfer->type, 8,
                        PropModeReplace, transfer->bytes->data() + transfer->sent,
                        static_cast<int>(count));
        transfer->sent += count;
        if (count == 0) transfers_.erase(transfer);
    }

    Display* display_;
    const std::vector<PasteboardItem>& items_;
    Clock& clock_;
    Atom clipboard_;
    Atom targets_;
    Atom timestamp_;
    Atom increments_;
    long chunk_;
    std::vector<Atom> types_;
    Window window_ = None;
    Time owned_ = CurrentTime;
    std::vector<Transfer> transfers_;
};

/// The server process: standard streams on /dev/null, nothing else inherited but the report
/// descriptor; reports "1" once it owns the selection. Never returns.
[[noreturn]] void runServer(int report, const std::vector<PasteboardItem>& items, Clock& clock) {
    if (report != reportFd && ::dup2(report, reportFd) < 0) _exit(1);
    ::close_range(reportFd + 1, ~0U, 0);
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) _exit(1);
    for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
    ::close(null);
    ::signal(SIGPIPE, SIG_IGN);

    XSetErrorHandler(ignoreErrors);
    XSetIOErrorHandler(displayClosed);
    Display* display = XOpenDisplay(nullptr);
    if (!display) _exit(1);
    ClipboardServer server(display, items, clock);
    if (!server.takeSelection()) _exit(1);
    [[maybe_unused]] auto written = writeAll(reportFd, "1");
    ::close(reportFd);
    server.serve();
    _exit(0);
}

}  // namespace

bool X11Pasteboard::replaceContents(const std::vector<PasteboardItem>& items) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    auto pipe = makePipe();
    if (!pipe) return false;
    Pipe ends = std::move(pipe).take();

    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        // In a session of its own, so that neither the program's end nor signals to its
        // process group end the server; started by a child that leaves at once, so that it is
        // nobody's child to wait for.
        if (::setsid() < 0) _exit(1);
        const pid_t server = ::fork();
        if (server != 0) _exit(server < 0 ? 1 : 0);
        runServer(ends.writeEnd.get(), items, clock_);
    }
    ends.writeEnd.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    char answer = 0;
    auto got = readExactly(ends.readEnd.get(), &answer, 1);
    return got && got.value() == 1 && answer == '1';
}

}  // namespace pelko::phone::linux_backend
