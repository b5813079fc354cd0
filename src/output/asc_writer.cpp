#include "output/asc_writer.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "core/lf_text.h"
#include "core/model_files.h"
#include "platform/memory.h"
#include "platform/threads.h"

namespace kestranov {

namespace {

// The body is formatted a band of cells at a time, cells in file order
// whatever the rows: about 360 KB of text for usual elevations, which goes
// to the file without another copy. A band's room grows only for
// elevations of many digits.
constexpr std::size_t band_cells = 1 << 15;
constexpr std::size_t usual_room = 512 << 10;
// Texts of bands formatted ahead of the writing, at most.
constexpr std::size_t texts = 4;
// A second thread formats bands where there are enough of them for its
// start to pay.
constexpr std::size_t bands_for_two = 4;

struct BandText {
    char* bytes = nullptr;  // its usual room, or `grown`
    std::size_t room = usual_room;
    std::size_t size = 0;
    std::unique_ptr<char[]> grown;
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
    char* p = text.bytes;
    // Row by row: a division per cell would cost a fifth of the formatting.
    std::size_t row = first / cols, col = first % cols;
    for (std::size_t k = first; k < last; ++row, col = 0) {
        const double* cells = grid.dtab[row];
        const std::size_t end = std::min(cols, col + (last - k));
        k += end - col;
        for (; col < end; ++col) {
            if (text.room - static_cast<std::size_t>(p - text.bytes) <= lf_max_chars) {
                const std::size_t used = static_cast<std::size_t>(p - text.bytes);
                std::unique_ptr<char[]> more(new char[2 * text.room]);
                std::memcpy(more.get(), text.bytes, used);
                text.grown = std::move(more), text.bytes = text.grown.get(), text.room *= 2;
                p = text.bytes + used;
            }
            p = put_lf(p, cells[col]);
            *p++ = '\t';
        }
    }
    text.size = static_cast<std::size_t>(p - text.bytes);
}

// The bands' texts in a ring, each band formatted by whichever of the
// caller and a second thread comes to it first, in band order and at most
// a ring ahead of the writing; the caller writes every band in order. The
// caller also writes, so the second thread formats more than half of them.
class BandRing {
public:
    // The texts take their usual rooms from `rooms`.
    BandRing(GridView grid, char* rooms) : grid_(grid), bands_((body_cells(grid) + band_cells - 1) / band_cells)
    {
        for (std::size_t k = 0; k < ring; ++k) texts_[k].bytes = rooms + k * usual_room;
    }
    BandRing(const BandRing&) = delete;
    BandRing& operator=(const BandRing&) = delete;
    ~BandRing()
    {
        if (!started_) return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        join_lean_thread(thread_);
    }

    bool start() { return started_ = start_lean_thread(thread_, &BandRing::run, this); }

    // Band `band`'s text, the next to write: the caller formats the bands
    // nobody has taken while it waits, and those the other thread could not
    // (it ran out of memory).
    const BandText& take(std::size_t band)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!ready_[band % ring]) {
            if (takeable())
                format(lock, next_++, false);
            else
                changed_.wait(lock);
        }
        if (failed_[band % ring]) put_band(grid_, band, texts_[band % ring]);
        return texts_[band % ring];
    }
    // Band `band` is written: its text may take the band a ring on.
    void written(std::size_t band)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ready_[band % ring] = false;
            written_ = band + 1;
        }
        changed_.notify_all();
    }

private:
    static constexpr std::size_t ring = texts;

    bool takeable() const { return next_ < bands_ && next_ < written_ + ring; }
    // Formats band `band` without the lock; on the second thread a failure
    // to get memory is left for the caller.
    void format(std::unique_lock<std::mutex>& lock, std::size_t band, bool second)
    {
        lock.unlock();
        bool failed = false;
        try {
            put_band(grid_, band, texts_[band % ring]);
        } catch (const std::bad_alloc&) {
            if (!second) throw;
            failed = true;
        }
        lock.lock();
        ready_[band % ring] = true, failed_[band % ring] = failed;
        changed_.notify_all();
    }
    static void* run(void* ring)
    {
        static_cast<BandRing*>(ring)->second_thread();
        return nullptr;
    }
    void second_thread()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stopping_ || next_ >= bands_ || takeable(); });
            if (stopping_ || next_ >= bands_) return;
            format(lock, next_++, true);
        }
    }

    GridView grid_;
    std::size_t bands_;
    BandText texts_[ring];
    LeanThread thread_;
    bool started_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;     // the first band nobody has taken
    std::size_t written_ = 0;  // the bands written
    bool ready_[ring] = {};
    bool failed_[ring] = {};
    bool stopping_ = false;
};

void write_body(OutputFile& f, GridView grid, int threads)
{
    const std::size_t bands = (body_cells(grid) + band_cells - 1) / band_cells;
    // The texts' usual rooms in one large page, on one thread as on two:
    // memory fresh from the system costs a fault every small page at its
    // first touch, which takes longer than formatting the page's text.
    // Short of address space, one room of small pages, on this thread.
    std::unique_ptr<char[], GiveBack> rooms(static_cast<char*>(allocate_in_large_pages(texts * usual_room)));
    const bool all_rooms = rooms != nullptr;
    if (!all_rooms) rooms.reset(static_cast<char*>(std::malloc(usual_room)));
    if (!rooms) throw std::bad_alloc();
    std::unique_ptr<BandRing> two;
    if (threads > 1 && bands >= bands_for_two && all_rooms) {
        two.reset(new BandRing(grid, rooms.get()));
        if (!two->start()) two.reset();
    }
    BandText own;
    own.bytes = rooms.get();
    for (std::size_t band = 0; band < bands; ++band) {
        if (two) {
            const BandText& text = two->take(band);
            f.write(text.bytes, text.size);
            two->written(band);
        } else {
            put_band(grid, band, own);
            f.write(own.bytes, own.size);
        }
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
