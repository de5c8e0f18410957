#include "platform/app/EventWriter.h"

#include "platform/app/RecordFile.h"
#include "platform/gfx/PngWriter.h"
#include "platform/services/OutputFile.h"
#include "platform/services/OwnedFd.h"
#include "platform/services/Printable.h"
#include "platform/services/SampleLine.h"
#include "platform/services/StopRequest.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr const char* kLogName = "events.csv";
constexpr const char* kLogHeader = "start,end,peak,rms,samples,csv,png,note\n";

std::string number(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The log's last column: how the event came to begin and end, when not simply.
std::string note(const Event& event) {
    // In the order of Event::Ending.
    static constexpr const char* kEndings[] = {"", "ended by a pause", "cut at ten minutes",
                                               "open when the run ended"};
    const std::string ending = kEndings[static_cast<int>(event.ending)];
    if (!event.continues) {
        return ending;
    }
    return ending.empty() ? "continues the event before" : "continues the event before; " + ending;
}

} // namespace

EventWriter::EventWriter(fs::path folder, bool localTime, bool batch)
    : folder_(std::move(folder)), localTime_(localTime), batch_(batch) {
    try {
        makeFolder();
    } catch (const OutputError& error) {
        fail(error.what());
    }
    thread_ = std::thread([this] { run(); });
}

EventWriter::~EventWriter() {
    stop();
}

fs::path EventWriter::defaultFolder() {
    // Not g_get_user_data_dir(): it keeps the first answer for the life of the process.
    fs::path base;
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && fs::path(data).is_absolute()) {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home != nullptr && *home != '\0' ? home : g_get_home_dir()) / ".local" / "share";
    }
    return base / "trembit" / "events";
}

std::string EventWriter::timeText(double seconds) const {
    if (!localTime_) {
        return number("%.3f", seconds);
    }
    const std::time_t wall = std::chrono::system_clock::to_time_t(
        launch_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                      std::chrono::duration<double>(seconds)));
    std::tm local{};
    char text[32];
    if (::localtime_r(&wall, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local) == 0) {
        return number("%.3f", seconds);
    }
    return text;
}

void EventWriter::eventEnded(Event&& event) {
    handed_.fetch_add(1);
    {
        std::unique_lock lock(mutex_);
        if (batch_) {
            room_.wait(lock, [this] { return waiting_.size() < kMostWaiting; });
        }
        if (waiting_.size() < kMostWaiting) {
            waiting_.push_back(std::move(event));
            wake_.notify_one();
            return;
        }
    }
    lost_.fetch_add(1);
    fail("they come faster than they can be written to " + printable(folder_.string()));
}

void EventWriter::run() {
    stop::keepSignalsFromThisThread();

    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
        if (waiting_.empty()) {
            return;
        }
        Event event = std::move(waiting_.front());
        waiting_.pop_front();
        room_.notify_one();
        lock.unlock();
        try {
            write(event);
        } catch (const std::exception& error) { // out of memory for its row
            lost_.fetch_add(1);
            fail(error.what());
        }
        // The picture's pixels serve the next picture; whatever is freed is freed here, off the
        // main thread.
        CairoSurfacePtr picture = std::move(event.picture);
        event = Event{};
        const bool spare = picture && cairo_surface_get_reference_count(picture.get()) == 1;
        lock.lock();
        if (spare) {
            std::swap(spare_, picture);
        }
        lock.unlock();
        picture.reset();
        lock.lock();
    }
}

CairoSurfacePtr EventWriter::sparePicture() {
    // Never waits for the writer: without a spare the picture takes new pixels.
    const std::unique_lock lock(mutex_, std::try_to_lock);
    return lock.owns_lock() ? std::move(spare_) : nullptr;
}

void EventWriter::makeFolder() const {
    std::error_code error;
    fs::create_directories(folder_, error);
    if (!error && !fs::is_directory(folder_, error)) {
        error = std::make_error_code(std::errc::not_a_directory);
    }
    if (error) {
        throw OutputError(folder_, error.message());
    }
}

void EventWriter::write(Event& event) {
    bool whole = true;
    const auto failed = [&](const std::exception& error) {
        whole = false;
        fail(error.what());
    };
    // Built by appending: GCC 12 at -O3 warns wrongly (-Wrestrict) of an overlap in "..." + string.
    std::string name = "event-";
    name += timeText(event.start);
    std::string stem = name;
    std::string csv;
    std::string png;
    try {
        makeFolder();
        std::string text = std::string(kRecordHeader) + "\n";
        for (const DeliveredSample& sample : event.samples) {
            text += RecordFile::row(sample);
        }
        const fs::path made = writeNewFile(folder_, name, ".csv", text);
        csv = made.filename().string();
        stem = made.stem().string(); // the picture takes the same number as the samples
    } catch (const std::exception& error) {
        failed(error);
    }
    if (event.picture && whole) {
        try {
            const std::string bytes = encodePng(event.picture.get());
            png = writeNewFile(folder_, stem, ".png", bytes).filename().string();
        } catch (const OutputError& error) {
            failed(error);
        } catch (const std::exception& error) {
            failed(OutputError(folder_ / (stem + ".png"), error.what()));
        }
    }
    std::string row;
    for (const std::string& field :
         {timeText(event.start), timeText(event.end), number("%.9g", static_cast<double>(event.peak)),
          number("%.9g", event.rms), std::to_string(event.samples.size()), csv, png}) {
        row += field;
        row += ',';
    }
    row += note(event);
    row += '\n';
    try {
        appendLog(row);
    } catch (const std::exception& error) {
        failed(error);
    }
    if (whole) {
        failing_.store(false);
    } else {
        lost_.fetch_add(1);
    }
}

void EventWriter::appendLog(const std::string& row) const {
    const fs::path path = folder_ / kLogName;
    // Not blocking on a FIFO put in its place: the run's end waits for this thread.
    OwnedFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    struct stat status {};
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0) {
        throw OutputError(path, std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw OutputError(path, "not a regular file");
    }
    std::string_view before;
    if (status.st_size == 0) {
        before = kLogHeader;
    } else {
        // A row cut short by a power cut stays a line of its own.
        char last = '\n';
        if (::pread(fd.get(), &last, 1, status.st_size - 1) == 1 && last != '\n') {
            before = "\n";
        }
    }
    std::string text;
    text.reserve(before.size() + row.size());
    text.append(before).append(row);
    try {
        writeAll(fd.get(), text, path);
        if (::fsync(fd.get()) != 0) {
            throw OutputError(path, std::strerror(errno));
        }
    } catch (const OutputError&) {
        cutBack(fd.get(), static_cast<std::uint64_t>(status.st_size), path);
        throw;
    }
    if (::close(fd.release()) != 0) {
        throw OutputError(path, std::strerror(errno));
    }
}

void EventWriter::fail(const std::string& problem) {
    failing_.store(true);
    if (!said_.exchange(true)) {
        std::fprintf(stderr, "trembit: events not saved: %s\n", problem.c_str());
    }
}

void EventWriter::stop() {
    if (!thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

bool EventWriter::finish() {
    stop();
    const std::uint64_t handed = handed_.load();
    const std::uint64_t lost = lost_.load();
    const std::string folder = printable(folder_.string());
    if (lost > 0) {
        std::fprintf(stderr, "trembit: %llu of %llu events could not be saved in %s\n",
                     static_cast<unsigned long long>(lost), static_cast<unsigned long long>(handed),
                     folder.c_str());
    } else if (handed > 0) {
        std::fprintf(stderr, "trembit: %llu event%s saved in %s\n", static_cast<unsigned long long>(handed),
                     handed == 1 ? "" : "s", folder.c_str());
    }
    return lost == 0;
}

} // namespace platform
