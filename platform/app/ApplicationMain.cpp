#include "platform/app/ApplicationMain.h"

#include "platform/app/Application.h"
#include "platform/app/ApplicationDelegate.h"
#include "platform/app/CommandLine.h"
#include "platform/app/EventWriter.h"
#include "platform/app/InterfaceFile.h"
#include "platform/app/RunFiles.h"
#include "platform/app/RunLoop.h"
#include "platform/app/Script.h"
#include "platform/app/Sources.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/backend/SdlBackend.h"
#include "platform/gfx/Resources.h"
#include "platform/gfx/Translation.h"
#include "platform/services/Accelerometer.h"
#include "platform/services/InputFile.h"
#include "platform/services/OutputFile.h"
#include "platform/services/Printable.h"
#include "platform/services/StopRequest.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <pango/pangocairo.h>
#include <stdexcept>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

namespace {

constexpr int kDefaultHeadlessScale = 2;
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

/// One run of the program, from launch to its end. Its parts are declared in the order they may
/// be torn down, last to first: the application outlives the interface's views, the delegate and
/// everything that borrows them.
class Run {
public:
    Run(const Options& options, const DelegateRegistry& delegates) : options_(options) { launch(delegates); }

    int execute() {
        loop_->run(options_.duration);
        return loop_->finish(options_.screenshot, options_.dumpState);
    }

private:
    void launch(const DelegateRegistry& delegates) {
        // Pango reads the font configuration on a thread of its own from the moment its font map
        // exists; asked for now, that reading (the longest single step of a start) overlaps the
        // display connection, the window and the images instead of holding up the first label.
        pango_cairo_font_map_get_default();

        std::vector<ScriptStep> script;
        if (options_.script) {
            try {
                script = loadScript(*options_.script);
            } catch (const std::invalid_argument& error) {
                throw StartError(error.what());
            }
        }
        SourceSettings sourceSettings;
        sourceSettings.sysfsRoot = options_.sysfsRoot;
        sourceSettings.units = options_.units == "ms2" ? SampleUnits::MetresPerSecondSquared : SampleUnits::G;
        sourceSettings.lossless = options_.headless && options_.fast;
        SourceSpec source;
        try {
            source = resolveSource(parseSourceSpec(options_.source), sourceSettings);
        } catch (const SourceError& error) {
            throw StartError(error.what());
        }

        const std::filesystem::path interfacePath =
            options_.interface.value_or(resourcePath("MainWindow.json"));
        try {
            interface_ = loadInterface(interfacePath);
        } catch (const InterfaceFileError& error) {
            throw StartError(error.what());
        }
        const auto factory = delegates.find(interface_.delegateClass);
        if (factory == delegates.end()) {
            throw StartError(interfacePath.string() + ": unknown delegate class \"" +
                             printable(interface_.delegateClass) + "\"");
        }
        try {
            checkRunFiles(options_, source, script, interfacePath);
        } catch (const std::runtime_error& error) {
            throw StartError(error.what());
        }

        // A window's video starts here, so SDL connects to the display once, not twice.
        try {
            backend_ = options_.headless ? std::unique_ptr<Backend>(std::make_unique<HeadlessBackend>(
                                               options_.scale.value_or(kDefaultHeadlessScale), options_.fast))
                                         : std::make_unique<SdlBackend>(options_.scale, options_.fullscreen);
        } catch (const std::runtime_error& error) {
            throw cannotOpenWindow(error);
        }

        application_ = std::make_unique<Application>(backend_->clock(), backend_->scale(), Preferences());
        delegate_ = factory->second();
        connectOutlets(interfacePath.string());
        application_->setWindow(interface_.window);
        application_->setDelegate(delegate_);
        loop_ = std::make_unique<RunLoop>(*backend_, *application_, *interface_.window, *delegate_,
                                          interface_.objects);
        if (options_.script) {
            loop_->setScript(std::move(script), options_.script->string());
        }

        delegate_->applicationDidFinishLaunching(*application_);
        // The artwork is decoded on other threads while the window opens and the source starts.
        interface_.window->prefetchContents(backend_->scale());
        try {
            backend_->open();
        } catch (const std::runtime_error& error) {
            throw cannotOpenWindow(error);
        }

        // The source opens once the application has chosen its rate: a device is asked for it and
        // a stream's queue holds a second's worth.
        Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
        std::string startMessage;
        try {
            accelerometer.setSource(
                openSource(source, sourceSettings, accelerometer.updateInterval(), startMessage));
        } catch (const SourceError& error) {
            throw StartError(error.what());
        }
        std::fprintf(stderr, "%s\n", startMessage.c_str());

        if (options_.record) {
            try {
                loop_->record(*options_.record);
            } catch (const std::runtime_error& error) {
                throw StartError(error.what());
            }
        }
        if (options_.trigger) {
            EventRule rule;
            rule.level = static_cast<float>(*options_.trigger);
            rule.holdSeconds = options_.hold.value_or(rule.holdSeconds);
            rule.preSeconds = options_.pre.value_or(rule.preSeconds);
            loop_->watchEvents(rule, options_.events.value_or(EventWriter::defaultFolder()),
                               !options_.headless);
        }
    }

    void connectOutlets(const std::string& file) {
        for (const auto& [outlet, id] : interface_.outlets) {
            if (!delegate_->connectOutlet(outlet, interface_.objects.find(id)->second)) {
                throw StartError(file + ": outlet \"" + printable(outlet) + "\" cannot take the object \"" +
                                 printable(id) + "\"");
            }
        }
        for (const std::string& required : delegate_->requiredOutlets()) {
            const bool connected = std::any_of(interface_.outlets.begin(), interface_.outlets.end(),
                                               [&](const auto& outlet) { return outlet.first == required; });
            if (!connected) {
                throw StartError(file + ": the outlet \"" + printable(required) + "\" is not connected");
            }
        }
    }

    const Options& options_;
    std::unique_ptr<Backend> backend_;
    std::unique_ptr<Application> application_;
    Interface interface_;
    std::shared_ptr<ApplicationDelegate> delegate_;
    std::unique_ptr<RunLoop> loop_;
};

// Prints the answer to --help, --version or --list-sources; 1 when it could not be written whole.
int printToStandardOutput(const std::string& text) {
    try {
        writeAll(STDOUT_FILENO, text, "standard output");
        return 0;
    } catch (const OutputError& error) {
        std::fprintf(stderr, "trembit: %s\n", error.what());
        return 1;
    }
}

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
        return printToStandardOutput(usageText());
    }
    if (options.version) {
        return printToStandardOutput(versionText());
    }
    if (options.listSources) {
        SourceSettings settings;
        settings.sysfsRoot = options.sysfsRoot;
        return printToStandardOutput(listSources(settings));
    }
    if (!options.headless) {
        SdlBackend::prepareEnvironment();
    }
    std::setlocale(LC_CTYPE, "");
    setUpTranslation();
#if defined(__GLIBC__)
    // Surfaces of a page turn are freed when it ends. glibc would otherwise raise its threshold
    // for separate mappings after the first such free and serve later ones from the heap, which
    // it seldom gives back: a window would keep ten megabytes more after its first page turn.
    mallopt(M_MMAP_THRESHOLD, kOwnMappingBytes);
#endif
    // A record file on a pipe whose reader went away, or past the file size limit, is a failed
    // write, said and survived, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        stop::installHandlers();
        return Run(options, delegates).execute();
    } catch (const StartError& error) {
        std::fprintf(stderr, "trembit: %s\n", error.what());
        return 2;
    } catch (const ReadInterrupted& error) {
        // Stopped before the run could begin: nothing was written, and there is nothing to write.
        std::fprintf(stderr, "trembit: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "trembit: %s\n", error.what());
        return 1;
    }
}

} // namespace platform
