#include "points/laz_decoding.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "platform/memory.h"

namespace kestranov {

namespace {

// Room for `n` elements, kept from chunk to chunk: the buffers grow to the
// largest chunk and are never cleared (every byte is written before use).
template <class T>
T* room_for(std::unique_ptr<T[]>& buffer, std::size_t& room, std::size_t n)
{
    if (n > room) {
        buffer.reset();  // the old one goes back first
        room = 0;
        buffer.reset(new T[n]);
        room = n;
    }
    return buffer.get();
}

LazChunkStatus decode_work(const LazChunkWork& w, const std::vector<LazItem>& items, const LazNeeds& needs)
{
    return decode_laz_chunk(w.bytes.get(), w.bytes.get() + w.byte_count, items, w.count, needs, w.points.get());
}

LazChunkJob job(const LazChunkWork& w)
{
    return {w.bytes.get(), w.bytes.get() + w.byte_count, w.count, w.points.get()};
}

}  // namespace

LazDecoding::LazDecoding(const std::vector<LazItem>& items, const ReadingOptions& options, const ReadingSeams& seams,
                         const LazChunkSize& largest_chunk)
    : items_(items), needs_{options.filter.by_class}, failing_chunk_(seams.failing_part)
{
    // Two chunks in flight per thread, as many threads as the budget holds
    // pairs of the largest chunk: where it holds fewer than two, the
    // caller alone decodes, one chunk at a time.
    const std::size_t pairs = seams.laz_budget / (2 * std::max<std::size_t>(largest_chunk.footprint(), 1));
    const int threads =
        static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(std::max(options.threads, 1)), pairs));
    threads_.reserve(static_cast<std::size_t>(threads > 1 ? threads - 1 : 0));
    for (int k = 0; k + 1 < threads; ++k) {
        LeanThread t;
        // Out of threads or memory: the threads started (and the caller) do the work.
        if (k == seams.failing_start || !start_lean_thread(t, &LazDecoding::run, this)) break;
        threads_.push_back(t);
    }
    // Two chunks per thread, decoded in pairs; the caller alone, where
    // the budget holds one chunk only, decodes it while the next waits.
    // With workers, a third per thread where the budget holds it: the
    // caller hands chunks in one at a time, and while a worker has the
    // oldest two, two slots alone left the caller a single chunk to decode.
    const std::size_t decoders = threads_.size() + 1;
    const std::size_t chunks = seams.laz_budget / std::max<std::size_t>(largest_chunk.footprint(), 1);
    if (threads_.empty()) {
        slots_.resize(pairs == 0 ? 1 : 2);
    } else {
        slots_.resize(std::max(2 * decoders, std::min(3 * decoders, chunks)));
    }
}

LazDecoding::~LazDecoding()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    for (LeanThread& t : threads_) join_lean_thread(t);
}

void* LazDecoding::run(void* pool)
{
    static_cast<LazDecoding*>(pool)->work();
    return nullptr;
}

long LazDecoding::queued_slot(long besides) const
{
    for (std::size_t k = 0; k < in_flight_; ++k) {
        const std::size_t s = (head_ + k) % slots_.size();
        if (slots_[s].state == State::queued && static_cast<long>(s) != besides) return static_cast<long>(s);
    }
    return -1;
}

bool LazDecoding::worth_taking() const
{
    // A chunk decoded alone takes some 40 % longer than each of a pair: a
    // worker that took each chunk as it came (the caller hands them in one
    // at a time, as it takes the oldest) decoded most of them alone. The
    // caller, waiting for the oldest, decodes a chunk left queued itself,
    // so that one waiting here never holds up the run.
    std::size_t queued = 0;
    for (std::size_t k = 0; k < in_flight_ && queued < 2; ++k) {
        if (slots_[(head_ + k) % slots_.size()].state == State::queued) ++queued;
    }
    return queued == 2 || (queued == 1 && in_flight_ == slots_.size());
}

// A decoding that cannot end the run from here: whatever it throws is noted
// for the caller (an exception leaving a thread would end the process).
// With a partner `t`, the two chunks are decoded at once.
void LazDecoding::decode(Slot& s, Slot* t)
{
    Slot* both[2] = {&s, t};
    for (Slot*& slot : both) {
        if (!slot) continue;
        slot->work.threw = false;
        long fault = slot->ordinal;
        if (failing_chunk_.compare_exchange_strong(fault, -1)) {
            slot->work.threw = true;
            hold_memory_for_failures();
            slot = nullptr;
        }
    }
    if (!both[0]) std::swap(both[0], both[1]);
    if (!both[0]) return;
    try {
        if (!both[1]) {
            both[0]->work.status = decode_work(both[0]->work, items_, needs_);
            return;
        }
        LazChunkJob jobs[2];
        for (int k = 0; k < 2; ++k) jobs[k] = job(both[k]->work);
        decode_laz_chunks(jobs[0], jobs[1], items_, needs_);
        for (int k = 0; k < 2; ++k) both[k]->work.status = jobs[k].status;
    } catch (...) {
        for (Slot* slot : both) {
            if (slot) slot->work.threw = true;
        }
        hold_memory_for_failures();  // given back on the way here
    }
}

LazDecoding::Slot* LazDecoding::partner(const Slot& s)
{
    const long k = queued_slot(static_cast<long>(&s - slots_.data()));
    if (k < 0) return nullptr;
    Slot& t = slots_[static_cast<std::size_t>(k)];
    t.state = State::decoding;
    return &t;
}

void LazDecoding::work()
{
    for (;;) {
        Slot *s, *t;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            queued_.wait(lock, [&] { return stopping_ || worth_taking(); });
            if (stopping_) return;
            s = &slots_[static_cast<std::size_t>(queued_slot())];
            s->state = State::decoding;
            t = partner(*s);
        }
        decode(*s, t);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            s->state = State::done;
            if (t) t->state = State::done;
        }
        decoded_.notify_all();
    }
}

unsigned char* LazDecoding::load(std::size_t bytes, std::size_t count)
{
    // The slot is free: no worker looks at it until it is submitted.
    LazChunkWork& w = slots_[(head_ + in_flight_) % slots_.size()].work;
    room_for(w.points, w.point_room, count);
    w.count = count;
    w.byte_count = bytes;
    return room_for(w.bytes, w.byte_room, bytes);
}

void LazDecoding::submit()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        Slot& s = slots_[(head_ + in_flight_) % slots_.size()];
        s.state = State::queued;
        s.ordinal = handed_in_++;
        ++in_flight_;
    }
    queued_.notify_one();
}

const LazChunkWork& LazDecoding::oldest()
{
    Slot& oldest = slots_[head_];
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // While a worker has the oldest chunk, the caller decodes a later one.
        while (oldest.state != State::done) {
            const long k = queued_slot();
            if (k < 0) {
                decoded_.wait(lock);
                continue;
            }
            Slot& s = slots_[static_cast<std::size_t>(k)];
            s.state = State::decoding;
            Slot* t = partner(s);
            lock.unlock();
            decode(s, t);
            lock.lock();
            s.state = State::done;
            if (t) t->state = State::done;
        }
    }
    // Here a failure ends the run, in its place in the file.
    if (oldest.work.threw) {
        oldest.work.threw = false;
        oldest.work.status = decode_work(oldest.work, items_, needs_);
    }
    return oldest.work;
}

void LazDecoding::release()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    slots_[head_].state = State::free;
    head_ = (head_ + 1) % slots_.size();
    --in_flight_;
}

}  // namespace kestranov
