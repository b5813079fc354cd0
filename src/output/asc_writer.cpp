#include "output/asc_writer.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "core/lf_text.h"
#include "core/model_files.h"
#include "platform/threads.h"

namespace kestranov {

namespace {

// The body is formatted a band of cells at a time, cells in file order
// whatever the rows: about 360 KB of text for usual elevations, which goes
// to the file without another copy. A band's room grows only for
// elevations of many digits.
constexpr std::size_t band_cells = 1 << 15;
constexpr std::size_t usual_room = 512 << 10;
// A second thread formats every other band where there are enough of them
// for its start to pay.
constexpr std::size_t bands_for_two = 4;

struct BandText {
    std::unique_ptr<char[]> bytes;
    std::size_t room = 0;
    std::size_t size = 0;
};

std::size_t body_cells(GridView grid)
{
    return grid.nb_lig > 0 && grid.nb_col > 0 ? static_cast<std::size_t>(grid.nb_lig) * grid.nb_col : 0;
}

// Band `band`'s cells, each with its tab, into `text` (the band's text only).
void put_band(GridView grid, std::size_t band, BandText& text)
{
    const auto cols = static_cast<std::size_t>(grid.nb_col);
    const std::size_t first = band * band_cells, last = std::min(body_cells(grid), first + band_cells);
    if (!text.bytes) text.bytes.reset(new char[text.room = usual_room]);
    char* p = text.bytes.get();
    for (std::size_t k = first; k < last; ++k) {
        if (text.room - static_cast<std::size_t>(p - text.bytes.get()) <= lf_max_chars) {
            const std::size_t used = static_cast<std::size_t>(p - text.bytes.get());
            std::unique_ptr<char[]> more(new char[2 * text.room]);
            std::memcpy(more.get(), text.bytes.get(), used);
            text.bytes = std::move(more), text.room *= 2;
            p = text.bytes.get() + used;
        }
        p = put_lf(p, grid.dtab[k / cols][k % cols]);
        *p++ = '\t';
    }
    text.size = static_cast<std::size_t>(p - text.bytes.get());
}

// The odd bands, formatted on a thread of their own into two texts in turn
// while the caller formats the even ones and writes every band in order.
class OddBands {
public:
    explicit OddBands(GridView grid) : grid_(grid), bands_((body_cells(grid) + band_cells - 1) / band_cells) {}
    OddBands(const OddBands&) = delete;
    OddBands& operator=(const OddBands&) = delete;
    ~OddBands()
    {
        if (!started_) return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        join_lean_thread(thread_);
    }

    bool start() { return started_ = start_lean_thread(thread_, &OddBands::run, this); }

    // Band `band` (odd, the next one in turn); null where its text could not
    // be had on that thread: the caller formats it then.
    const BandText* take(std::size_t band)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return ready_[slot(band)]; });
        return failed_[slot(band)] ? nullptr : &texts_[slot(band)];
    }
    void give_back(std::size_t band)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ready_[slot(band)] = false;
        }
        changed_.notify_all();
    }

private:
    static std::size_t slot(std::size_t band) { return band / 2 % 2; }
    static void* run(void* bands)
    {
        static_cast<OddBands*>(bands)->format();
        return nullptr;
    }
    void format()
    {
        for (std::size_t band = 1; band < bands_; band += 2) {
            const std::size_t s = slot(band);
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || !ready_[s]; });
                if (stopping_) return;
            }
            bool failed = false;
            try {
                put_band(grid_, band, texts_[s]);
            } catch (const std::bad_alloc&) {
                failed = true;
            }
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                ready_[s] = true, failed_[s] = failed;
            }
            changed_.notify_all();
        }
    }

    GridView grid_;
    std::size_t bands_;
    BandText texts_[2];
    LeanThread thread_;
    bool started_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ready_[2] = {false, false};
    bool failed_[2] = {false, false};
    bool stopping_ = false;
};

void write_body(OutputFile& f, GridView grid, int threads)
{
    const std::size_t bands = (body_cells(grid) + band_cells - 1) / band_cells;
    BandText own;
    std::unique_ptr<OddBands> odd;
    if (threads > 1 && bands >= bands_for_two) {
        odd.reset(new OddBands(grid));
        if (!odd->start()) odd.reset();
    }
    for (std::size_t band = 0; band < bands; ++band) {
        const BandText* text = odd && band % 2 ? odd->take(band) : nullptr;
        if (!text) {
            put_band(grid, band, own);
            text = &own;
        }
        f.write(text->bytes.get(), text->size);
        if (odd && band % 2) odd->give_back(band);
    }
}

}  // namespace

std::string asc_header(GridView grid, const Extents& e, double pix_size)
{
    return "ncols " + std::to_string(grid.nb_col) + "\nnrows " + std::to_string(grid.nb_lig) + "\nxllcorner " +
           lf(e.Xmin) + "\nyllcorner " + lf(e.Ymin) + "\ncellsize " + lf(pix_size) + "\nnodata_value " +
           std::string(asc_nodata_text) + "\n";
}

void write_asc(const OutputTarget& target, GridView grid, const Extents& e, double pix_size, int threads)
{
    OutputFile f4(target.host, OutputFile::Mode::text);
    require_created(f4, target);
    f4.write(asc_header(grid, e, pix_size));
    // The body has no line break, so it goes out untranslated.
    write_body(f4, grid, threads);
    if (!f4.finish()) write_failed(target.shown);
    if (!f4.commit()) place_failed(target.shown);
}

}  // namespace kestranov
