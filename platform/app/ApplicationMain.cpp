#include "platform/app/ApplicationMain.h"

#include "platform/app/Application.h"
#include "platform/app/ApplicationDelegate.h"
#include "platform/app/CommandLine.h"
#include "platform/app/InterfaceFile.h"
#include "platform/app/JsonWriter.h"
#include "platform/app/Script.h"
#include "platform/app/Sources.h"
#include "platform/backend/SdlWindow.h"
#include "platform/gfx/Resources.h"
#include "platform/services/Accelerometer.h"
#include "platform/services/StopRequest.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/TouchRouter.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <clocale>
#include <ctime>
#include <deque>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <thread>

#include <langinfo.h>
#include <pango/pangocairo.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

namespace {

constexpr Size kWindowSize{320.0f, 480.0f};
constexpr int kDefaultHeadlessScale = 2;
constexpr double kTitleInterval = 0.25;
constexpr double kIdleTickBatch = 0.25;
// The toolbar's buttons that keys and scripts press.
constexpr std::size_t kRunButtonIndex = 0;
constexpr std::size_t kSettingsButtonIndex = 2;
constexpr double kFrameInterval = 1.0 / 60.0;
constexpr double kForever = std::numeric_limits<double>::infinity();
// Blocks of pixels at least this large get their own mapping, handed back whole when freed.
constexpr int kOwnMappingBytes = 128 * 1024;

/// A start-up problem: said on one line, exit status 2.
struct StartError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

StartError cannotOpenWindow(const std::runtime_error& error) {
    return StartError(std::string("cannot open a window: ") + error.what() +
                      " (use --headless where there is no display)");
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

/// The --record file: one whole row per delivered sample, flushed at each line so a crash loses
/// at most the row being written.
class RecordFile {
public:
    explicit RecordFile(const std::filesystem::path& path) : file_(std::fopen(path.c_str(), "w")) {
        if (!file_) {
            throw StartError("cannot write the record file " + path.string() + ": " + std::strerror(errno));
        }
        std::setvbuf(file_.get(), nullptr, _IOLBF, 1 << 16);
        std::fputs("t,x,y,z,deflection\n", file_.get());
    }

    void row(double time, const Acceleration& sample, std::optional<float> deflection) {
        char deflectionText[32] = "";
        if (deflection) {
            std::snprintf(deflectionText, sizeof deflectionText, "%.9g", static_cast<double>(*deflection));
        }
        std::fprintf(file_.get(), "%.9g,%.17g,%.17g,%.17g,%s\n", time, sample.x, sample.y, sample.z, deflectionText);
    }

private:
    FilePtr file_;
};

void writeTextFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

template <typename T> std::shared_ptr<T> findView(const std::shared_ptr<View>& root) {
    if (auto found = std::dynamic_pointer_cast<T>(root)) {
        return found;
    }
    for (const std::shared_ptr<View>& child : root->subviews()) {
        if (auto found = findView<T>(child)) {
            return found;
        }
    }
    return nullptr;
}

bool isInTree(const View& view, const View& root) {
    const View* v = &view;
    while (v->superview() != nullptr) {
        v = v->superview();
    }
    return v == &root;
}

/// What the window's title reports: the rate samples actually arrive at, over the last second,
/// and the largest deflection on the visible trace (the last 200 values recorded).
class Readings {
public:
    static constexpr std::size_t kTraceLength = 200;

    void delivered(double time, std::optional<float> deflection) {
        forgetBefore(time);
        times_.push_back(time);
        if (deflection) {
            trace_[next_] = *deflection;
            next_ = (next_ + 1) % kTraceLength;
        }
    }

    /// `dash` separates the readings: an em dash where the locale can show it.
    std::string title(double now, const char* dash) {
        forgetBefore(now);
        float peak = 0.0f;
        for (const float v : trace_) {
            if (!std::isnan(v)) {
                peak = std::max(peak, std::fabs(v));
            }
        }
        char text[96];
        std::snprintf(text, sizeof text, "Trembit %s %zu/s %s peak %.2f", dash, times_.size(), dash,
                      static_cast<double>(peak));
        return text;
    }

private:
    // Only the last second of deliveries counts; older ones are dropped as time goes on.
    void forgetBefore(double now) {
        while (!times_.empty() && times_.front() <= now - 1.0) {
            times_.pop_front();
        }
    }

    std::deque<double> times_;
    std::array<float, kTraceLength> trace_{};
    std::size_t next_ = 0;
};

/// One run of the program, from launch to the end of its main loop.
class Run {
public:
    explicit Run(Options options) : options_(std::move(options)) {}

    int execute(const DelegateRegistry& delegates) {
        launch(delegates);
        Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
        accelerometer.start(clock_.now());
        started_ = std::chrono::steady_clock::now();
        endTime_ = options_.duration.value_or(kForever);

        while (!quit_ && !stop::requested()) {
            const double next = nextEventTime();
            if (next == kForever && options_.headless) {
                break; // nothing will ever happen again
            }
            const std::vector<InputEvent> events = waitUntil(next);
            if (stop::requested() || clock_.now() >= endTime_) {
                break;
            }
            const std::uint64_t delivered = accelerometer.deliveredCount();
            recordedSinceWake_ = false;
            accelerometer.deliverDueSamples(clock_.now());
            if (accelerometer.deliveredCount() != delivered) {
                ticksIdle_ = !recordedSinceWake_;
                lastTickWake_ = clock_.now();
            }
            if (!events.empty()) {
                ticksIdle_ = false; // a press may resume recording: be on time for the next sample
            }
            SampleSource* source = accelerometer.source();
            if (options_.headless && source != nullptr && source->isExhausted()) {
                const double last = lastDelivery_ >= 0.0 ? lastDelivery_ : clock_.now();
                endTime_ = std::min(endTime_, last + accelerometer.updateInterval());
            }
            application_->animator().advance();
            handle(events);
            runScript();
            display();
        }
        finish();
        return 0;
    }

private:
    void launch(const DelegateRegistry& delegates) {
        // Pango reads the font configuration on a thread of its own from the moment its font map
        // exists; asked for now, that reading (the longest single step of a start) overlaps the
        // display connection, the window and the images instead of holding up the first label.
        pango_cairo_font_map_get_default();
        if (options_.script) {
            try {
                script_ = loadScript(*options_.script);
            } catch (const std::invalid_argument& error) {
                throw StartError(error.what());
            }
        }
        if (options_.record) {
            record_.emplace(*options_.record);
        }
        sourceSettings_.sysfsRoot = options_.sysfsRoot;
        sourceSettings_.units = options_.units == "ms2" ? SampleUnits::MetresPerSecondSquared : SampleUnits::G;
        sourceSettings_.lossless = options_.headless && options_.fast;
        try {
            sourceSpec_ = resolveSource(parseSourceSpec(options_.source), sourceSettings_);
        } catch (const SourceError& error) {
            throw StartError(error.what());
        }

        interfacePath_ = options_.interface.value_or(resourcePath("MainWindow.json"));
        try {
            interface_ = loadInterface(interfacePath_);
        } catch (const InterfaceFileError& error) {
            throw StartError(error.what());
        }
        const auto factory = delegates.find(interface_.delegateClass);
        if (factory == delegates.end()) {
            throw StartError(interfacePath_.string() + ": unknown delegate class \"" + interface_.delegateClass + "\"");
        }

        int scale = options_.scale.value_or(kDefaultHeadlessScale);
        // Held until the window is open, so SDL connects to the display once, not twice.
        std::optional<SdlVideoGuard> video;
        if (!options_.headless) {
            try {
                video.emplace();
                if (!options_.scale) {
                    scale = options_.fullscreen ? kDefaultHeadlessScale : SdlWindow::defaultScale();
                }
            } catch (const std::runtime_error& error) {
                throw cannotOpenWindow(error);
            }
        }

        application_ = std::make_unique<Application>(clock_, scale, Preferences());
        delegate_ = factory->second();
        connectOutlets();
        application_->setWindow(interface_.window);
        application_->setDelegate(delegate_);
        compositor_.emplace(kWindowSize, scale);
        router_.emplace(*interface_.window);

        delegate_->applicationDidFinishLaunching(*application_);
        // The artwork is decoded on other threads while the window opens and the source starts.
        interface_.window->prefetchContents(scale);

        if (!options_.headless) {
            try {
                screen_ = std::make_unique<SdlWindow>("Trembit", scale, options_.fullscreen);
            } catch (const std::runtime_error& error) {
                throw cannotOpenWindow(error);
            }
        }

        // The source opens once the application has chosen its rate: a device is asked for it and
        // a stream's queue holds a second's worth.
        Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
        std::string startMessage;
        try {
            accelerometer.setSource(openSource(sourceSpec_, sourceSettings_, accelerometer.updateInterval(), startMessage));
        } catch (const SourceError& error) {
            throw StartError(error.what());
        }
        std::fprintf(stderr, "%s\n", startMessage.c_str());

        accelerometer.setDeliveryObserver([this](double time, const Acceleration& sample) {
            lastDelivery_ = time;
            const std::optional<float> deflection = delegate_->lastDeflection();
            readings_.delivered(time, deflection);
            recordedSinceWake_ = recordedSinceWake_ || deflection.has_value();
            if (record_) {
                record_->row(time, sample, deflection);
            }
        });
    }

    void connectOutlets() {
        const std::string file = interfacePath_.string();
        for (const auto& [outlet, id] : interface_.outlets) {
            if (!delegate_->connectOutlet(outlet, interface_.objects.find(id)->second)) {
                throw StartError(file + ": outlet \"" + outlet + "\" cannot take the object \"" + id + "\"");
            }
        }
        for (const std::string& required : delegate_->requiredOutlets()) {
            const bool connected = std::any_of(interface_.outlets.begin(), interface_.outlets.end(),
                                               [&](const auto& outlet) { return outlet.first == required; });
            if (!connected) {
                throw StartError(file + ": the outlet \"" + required + "\" is not connected");
            }
        }
    }

    bool paced() const { return !(options_.headless && options_.fast); }

    // The earliest moment something is due: a sample, a script line, a frame, or the end.
    double nextEventTime() const {
        const double now = clock_.now();
        double next = endTime_;
        if (const std::optional<double> tick = Accelerometer::sharedAccelerometer().nextTickTime()) {
            // While samples are being dropped (paused, settings page), nothing shows them: wake for
            // them a few times a second and deliver the due ones in order, so the program sleeps.
            const bool idle = paced() && ticksIdle_;
            next = std::min(next, idle ? std::max(*tick, lastTickWake_ + kIdleTickBatch) : *tick);
        }
        if (scriptPosition_ < script_.size()) {
            next = std::min(next, std::max(now, scriptTime_));
        }
        // Frames follow the animations on every clock, so a page turn ends on time; other changes
        // are shown only where someone can watch (never in --fast).
        if (application_->animator().nextFrameTime() || (paced() && interface_.window->hasChanges())) {
            next = std::min(next, std::max(now, lastDisplay_ + kFrameInterval));
        }
        if (screen_) {
            next = std::min(next, lastTitle_ + kTitleInterval);
        }
        return next;
    }

    double realSeconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    }

    // Moves the clock to `next`: at once in --fast, in step with real time otherwise. A window's
    // input may end the wait early, with the clock at the moment it came.
    std::vector<InputEvent> waitUntil(double next) {
        std::vector<InputEvent> events;
        // Input is looked at as often as frames are shown. A wake that comes sooner than that, for
        // a sample, sleeps without asking the window system: at 200 samples a second that asking
        // would cost more than everything else the loop does between frames.
        const bool inputDue = next == kForever || realSeconds() - lastInputCheck_ >= kFrameInterval ||
                              next - realSeconds() >= kFrameInterval;
        if (screen_ && inputDue) {
            const double timeout = next == kForever ? 1.0 : std::max(0.0, next - realSeconds());
            events = screen_->waitEvents(timeout);
            lastInputCheck_ = realSeconds();
            if (!events.empty() || next == kForever) {
                next = std::min(next, std::max(clock_.now(), realSeconds()));
            }
        } else if (paced() && next != kForever) {
            std::this_thread::sleep_until(started_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                         std::chrono::duration<double>(next)));
        }
        if (next != kForever) {
            clock_.advanceTo(next);
        }
        return events;
    }

    // Window input. Keys press the toolbar's buttons through the same touch path as a pointer,
    // so a disabled button ignores both.
    void handle(const std::vector<InputEvent>& events) {
        for (const InputEvent& event : events) {
            switch (event.kind) {
            case InputEvent::Kind::Press:
                router_->press(event.point);
                break;
            case InputEvent::Kind::Move:
                router_->move(event.point);
                break;
            case InputEvent::Kind::Release:
                router_->release(event.point);
                break;
            case InputEvent::Kind::Cancel:
                router_->cancel();
                break;
            case InputEvent::Kind::Quit:
                quit_ = true;
                break;
            case InputEvent::Kind::Expose:
                // Composed again, not only shown again: after a resize the window's pixels are new.
                if (lastDisplay_ > -kForever) {
                    render();
                    screen_->present(compositor_->surface());
                }
                break;
            case InputEvent::Kind::Key:
                key(event.key);
                break;
            }
        }
    }

    void key(InputEvent::Key key) {
        const std::shared_ptr<Toolbar> toolbar = findView<Toolbar>(interface_.window);
        auto tap = [&](std::size_t index) {
            if (toolbar && index < toolbar->items().size()) {
                const Rect item = toolbar->frameForItem(index);
                router_->click(convertPoint(
                    Point{item.origin.x + item.size.width / 2, item.origin.y + item.size.height / 2}, *toolbar, nullptr));
            }
        };
        switch (key) {
        case InputEvent::Key::Space:
            tap(kRunButtonIndex);
            break;
        case InputEvent::Key::S:
            tap(kSettingsButtonIndex);
            break;
        case InputEvent::Key::Return:
            // Return confirms: it presses the toolbar's Done button when there is one.
            if (toolbar) {
                for (std::size_t i = 0; i < toolbar->items().size(); ++i) {
                    if (toolbar->items()[i]->style() == BarButtonItemStyle::Done) {
                        tap(i);
                        break;
                    }
                }
            }
            break;
        case InputEvent::Key::CtrlS:
            saveWindowPicture();
            break;
        case InputEvent::Key::CtrlQ:
            quit_ = true;
            break;
        case InputEvent::Key::None:
            break;
        }
    }

    void saveWindowPicture() {
        const std::time_t now = std::time(nullptr);
        char name[64];
        std::strftime(name, sizeof name, "trembit-%Y%m%d-%H%M%S.png", std::localtime(&now));
        try {
            render();
            compositor_->writePng(name);
            std::fprintf(stderr, "trembit: saved %s\n", std::filesystem::absolute(name).c_str());
        } catch (const std::runtime_error& error) {
            std::fprintf(stderr, "trembit: %s\n", error.what());
        }
    }

    void runScript() {
        while (!quit_ && scriptPosition_ < script_.size() && scriptTime_ <= clock_.now()) {
            quit_ = perform(script_[scriptPosition_++]);
            ticksIdle_ = false;
        }
        if (options_.script && scriptPosition_ == script_.size() && scriptTime_ <= clock_.now()) {
            quit_ = true; // the script's last line, and its wait, end the run
        }
    }

    void render() {
        if (screen_) {
            // Frames are composed straight into the window's own pixels where it has them at the
            // picture's size, which saves copying every frame; otherwise into the compositor's.
            cairo_surface_t* frame = screen_->frameSurface();
            if (frame != (compositor_->hasTarget() ? compositor_->surface() : nullptr)) {
                compositor_->setTarget(frame != nullptr ? CairoSurfacePtr(cairo_surface_reference(frame)) : nullptr);
            }
        }
        compositor_->render(*interface_.window, &application_->animator());
        lastDisplay_ = clock_.now();
    }

    // A display pass when something changed and a frame is due; with a window, presented (the
    // renderer waits for the display's refresh).
    void display() {
        const double now = clock_.now();
        if (now >= lastDisplay_ + kFrameInterval) {
            if (paced() && interface_.window->hasChanges()) {
                render();
                if (screen_) {
                    screen_->present(compositor_->surface());
                }
            } else if (application_->animator().nextFrameTime()) {
                lastDisplay_ = now; // --fast: the page turn advances without pictures nobody sees
            }
        }
        if (screen_ && now >= lastTitle_ + kTitleInterval) {
            std::string title = readings_.title(now, titleDash_);
            if (title != shownTitle_) {
                screen_->setTitle(title);
                shownTitle_ = std::move(title);
            }
            lastTitle_ = now;
        }
    }

    void finish() {
        Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
        if (SampleSource* source = accelerometer.source()) {
            source->finish();
        }
        if (options_.screenshot) {
            render();
            compositor_->writePng(*options_.screenshot);
        }
        if (options_.dumpState) {
            writeTextFile(*options_.dumpState, stateJson());
        }
        accelerometer.setDeliveryObserver(nullptr);
        accelerometer.setDelegate(nullptr);
    }

    std::string stateJson() const {
        JsonWriter json;
        json.beginObject();
        delegate_->writeState(json);
        json.endObject();
        return json.str() + "\n";
    }

    // Carries out one script step at the current time; true when the run must end. A step that
    // cannot act (the control is not on screen) is said on standard error and the script goes on.
    bool perform(const ScriptStep& step) {
        const std::string where = options_.script->string() + ":" + std::to_string(step.line) + ": ";
        Window& window = *interface_.window;
        switch (step.verb) {
        case ScriptStep::Verb::Wait:
            scriptTime_ += step.seconds;
            break;
        case ScriptStep::Verb::TapRun:
        case ScriptStep::Verb::TapSettings: {
            const std::shared_ptr<Toolbar> toolbar = findView<Toolbar>(interface_.window);
            const std::size_t index = step.verb == ScriptStep::Verb::TapRun ? kRunButtonIndex : kSettingsButtonIndex;
            if (!toolbar || toolbar->items().size() <= index) {
                std::fprintf(stderr, "trembit: %sthere is no such toolbar button\n", where.c_str());
                break;
            }
            const Rect item = toolbar->frameForItem(index);
            const Point centre{item.origin.x + item.size.width / 2, item.origin.y + item.size.height / 2};
            router_->click(convertPoint(centre, *toolbar, nullptr));
            break;
        }
        case ScriptStep::Verb::Select: {
            const auto found = interface_.objects.find(step.control + "Control");
            const auto control = found == interface_.objects.end()
                                     ? nullptr
                                     : std::dynamic_pointer_cast<SegmentedControl>(found->second);
            if (!control || !isInTree(*control, window)) {
                std::fprintf(stderr, "trembit: %sthe %s control is not on screen\n", where.c_str(),
                             step.control.c_str());
                break;
            }
            const auto segments = static_cast<int>(control->numberOfSegments());
            if (step.index < 0 || step.index >= segments) {
                std::fprintf(stderr, "trembit: %sthe %s control has no segment %d\n", where.c_str(),
                             step.control.c_str(), step.index);
                break;
            }
            const Rect segment = control->frameForSegment(static_cast<std::size_t>(step.index));
            const Point centre{segment.origin.x + segment.size.width / 2, segment.origin.y + segment.size.height / 2};
            router_->click(convertPoint(centre, *control, nullptr));
            break;
        }
        case ScriptStep::Verb::Click:
            router_->click(Point{step.x, step.y});
            break;
        case ScriptStep::Verb::Screenshot:
            try {
                render();
                compositor_->writePng(step.file);
            } catch (const std::runtime_error& error) {
                std::fprintf(stderr, "trembit: %s%s\n", where.c_str(), error.what());
            }
            break;
        case ScriptStep::Verb::DumpState:
            try {
                writeTextFile(step.file, stateJson());
            } catch (const std::runtime_error& error) {
                std::fprintf(stderr, "trembit: %s%s\n", where.c_str(), error.what());
            }
            break;
        case ScriptStep::Verb::Quit:
            return true;
        }
        return false;
    }

    Options options_;
    SourceSpec sourceSpec_;
    SourceSettings sourceSettings_;
    std::filesystem::path interfacePath_;
    VirtualClock clock_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::vector<ScriptStep> script_;
    std::size_t scriptPosition_ = 0;
    double scriptTime_ = 0.0;
    std::optional<RecordFile> record_;
    // Declared in the order they may be torn down last to first: the application outlives the
    // interface's views, the delegate and everything that borrows them.
    std::unique_ptr<SdlWindow> screen_;
    std::unique_ptr<Application> application_;
    Interface interface_;
    std::shared_ptr<ApplicationDelegate> delegate_;
    std::optional<Compositor> compositor_;
    std::optional<TouchRouter> router_;
    Readings readings_;
    double endTime_ = kForever;
    double lastDelivery_ = -1.0;
    double lastDisplay_ = -kForever;
    double lastInputCheck_ = -kForever; // real seconds
    double lastTitle_ = -kForever;
    std::string shownTitle_;
    bool ticksIdle_ = false;        // the last samples delivered were all dropped by the application
    bool recordedSinceWake_ = false;
    double lastTickWake_ = 0.0;
    // SDL converts titles to the locale's character set for older window managers and gives up on
    // characters it cannot show, so the em dash is used only in a UTF-8 locale.
    const char* titleDash_ = std::string_view(nl_langinfo(CODESET)) == "UTF-8" ? "\u2014" : "-";
    bool quit_ = false;
};

} // namespace

int ApplicationMain(int argc, char** argv, const DelegateRegistry& delegates) {
    Options options;
    try {
        std::vector<std::string_view> arguments(argv + 1, argv + argc);
        options = parseCommandLine(arguments);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "trembit: %s\nTry 'trembit --help'.\n", error.what());
        return 2;
    }
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(versionText().c_str(), stdout);
        return 0;
    }
    if (options.listSources) {
        SourceSettings settings;
        settings.sysfsRoot = options.sysfsRoot;
        std::fputs(listSources(settings).c_str(), stdout);
        return 0;
    }
    if (!options.headless) {
        SdlWindow::prepareEnvironment();
    }
    std::setlocale(LC_CTYPE, "");
#if defined(__GLIBC__)
    // Surfaces of a page turn are freed when it ends. glibc would otherwise raise its threshold
    // for separate mappings after the first such free and serve later ones from the heap, which
    // it seldom gives back: a window would keep ten megabytes more after its first page turn.
    mallopt(M_MMAP_THRESHOLD, kOwnMappingBytes);
#endif
    try {
        stop::installHandlers();
        return Run(std::move(options)).execute(delegates);
    } catch (const StartError& error) {
        std::fprintf(stderr, "trembit: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "trembit: %s\n", error.what());
        return 1;
    }
}

} // namespace platform
