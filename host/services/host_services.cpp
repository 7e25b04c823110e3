#include "services/host_services.h"

#include <cstdlib>
#include <cstring>
#if defined(_WIN32)
#include <malloc.h>
#endif

namespace qorvex::host {

namespace {
constexpr std::uint32_t kGrowLevel = 1000;
constexpr std::size_t kAlignment = 16;

void* AlignedBlock(std::uint64_t size) {
    // aligned_alloc wants a multiple of the alignment; zero-size requests get a real block.
    const std::uint64_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
#if defined(_WIN32)
    // The Windows C runtime has no aligned_alloc; its aligned blocks need _aligned_free.
    return _aligned_malloc(rounded == 0 ? kAlignment : rounded, kAlignment);
#else
    return std::aligned_alloc(kAlignment, rounded == 0 ? kAlignment : rounded);
#endif
}

void FreeAlignedBlock(void* block) {
#if defined(_WIN32)
    _aligned_free(block);
#else
    std::free(block);
#endif
}
}  // namespace

CountingAllocator::~CountingAllocator() {
    for (auto& [block, size] : m_live) FreeAlignedBlock(block);
}

void* CountingAllocator::Alloc(std::uint64_t size) {
    std::lock_guard lock(m_mutex);
    if (m_refusal.Refuses() || m_refuseAll || m_grantsLeft == 0 ||
        size > (std::uint64_t{1} << 40)) {
        ++m_refusals;
        return nullptr;
    }
    void* block = AlignedBlock(size);
    if (block == nullptr) {
        ++m_refusals;
        return nullptr;
    }
    if (m_grantsLeft > 0) --m_grantsLeft;
    ++m_allocations;
    m_live.emplace(block, size);
    m_liveBytes += size;
    return block;
}

void* CountingAllocator::Realloc(void* block, std::uint64_t size) {
    void* fresh = Alloc(size);
    if (fresh == nullptr || block == nullptr) return fresh;
    std::uint64_t old = 0;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_live.find(block);
        if (it != m_live.end()) old = it->second;
    }
    std::memcpy(fresh, block, old < size ? old : size);
    Free(block);
    return fresh;
}

void CountingAllocator::Free(void* block) {
    std::lock_guard lock(m_mutex);
    auto it = m_live.find(block);
    if (it == m_live.end()) {
        ++m_badFrees;
        return;
    }
    m_liveBytes -= it->second;
    m_live.erase(it);
    ++m_frees;
    FreeAlignedBlock(block);
}

void CountingAllocator::RefuseAll(bool refuse) {
    std::lock_guard lock(m_mutex);
    m_refuseAll = refuse;
}

void CountingAllocator::RefuseAfter(std::int64_t n) {
    std::lock_guard lock(m_mutex);
    m_grantsLeft = n;
}

void CountingAllocator::RefuseRequest(std::uint64_t k, bool andLater) {
    std::lock_guard lock(m_mutex);
    m_refusal.Arm(k, andLater);
}

std::uint64_t CountingAllocator::Allocations() const {
    std::lock_guard lock(m_mutex);
    return m_allocations;
}
std::uint64_t CountingAllocator::Frees() const {
    std::lock_guard lock(m_mutex);
    return m_frees;
}
std::uint64_t CountingAllocator::Refusals() const {
    std::lock_guard lock(m_mutex);
    return m_refusals;
}
std::size_t CountingAllocator::LiveBlocks() const {
    std::lock_guard lock(m_mutex);
    return m_live.size();
}
std::uint64_t CountingAllocator::LiveBytes() const {
    std::lock_guard lock(m_mutex);
    return m_liveBytes;
}
std::uint64_t CountingAllocator::BadFrees() const {
    std::lock_guard lock(m_mutex);
    return m_badFrees;
}

CapturingTracer::~CapturingTracer() {
    for (auto& [buffer, level] : m_open) std::free(buffer);
}

std::uint32_t CapturingTracer::AcquireRecordBuffer(std::uint32_t level, char** buffer,
                                                   std::uint64_t size) {
    std::lock_guard lock(m_mutex);
    ++m_acquireCalls;
    if (level == kGrowLevel) {
        ++m_growthCalls;
        auto it = m_open.find(*buffer);
        if (m_growthRefusal.Refuses() || m_refuseGrowth || it == m_open.end() ||
            size > (std::uint64_t{1} << 32))
            return 1;
        // Grant exactly what was asked, at a new address, so a writer that keeps using the old
        // pointer or writes past the grant is caught by the sanitizers.
        char* grown = static_cast<char*>(std::malloc(size));
        if (grown == nullptr) return 1;
        const OpenBuffer old = it->second;
        std::memcpy(grown, it->first, old.size < size ? old.size : size);
        std::free(it->first);
        m_open.erase(it);
        m_open.emplace(grown, OpenBuffer{old.level, size});
        *buffer = grown;
        return 0;
    }
    if (m_recordRefusal.Refuses() || m_refuseRecords || level > m_maxLevel ||
        size > (std::uint64_t{1} << 32))
        return 1;
    if (m_grantWithoutBuffer) {
        *buffer = nullptr;
        return 0;
    }
    char* fresh = static_cast<char*>(std::malloc(size == 0 ? 1 : size));
    if (fresh == nullptr) return 1;
    m_open.emplace(fresh, OpenBuffer{level, size});
    *buffer = fresh;
    return 0;
}

std::uint32_t CapturingTracer::SubmitRecord(char* buffer, std::uint64_t length) {
    Record record;
    std::function<void(const Record&)> sink;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_open.find(buffer);
        if (it == m_open.end()) return 1;
        if (length > it->second.size) return 1;  // more than was ever granted
        record = Record{it->second.level, std::string(buffer, length)};
        std::free(buffer);
        m_open.erase(it);
        m_records.push_back(record);
        sink = m_sink;
    }
    if (sink) sink(record);
    return 0;
}

void CapturingTracer::SetMaxLevel(std::uint32_t level) {
    std::lock_guard lock(m_mutex);
    m_maxLevel = level;
}
void CapturingTracer::RefuseRecords(bool refuse) {
    std::lock_guard lock(m_mutex);
    m_refuseRecords = refuse;
}
void CapturingTracer::GrantWithoutBuffer(bool grant) {
    std::lock_guard lock(m_mutex);
    m_grantWithoutBuffer = grant;
}
void CapturingTracer::RefuseGrowth(bool refuse) {
    std::lock_guard lock(m_mutex);
    m_refuseGrowth = refuse;
}
void CapturingTracer::RefuseRecordRequest(std::uint64_t k, bool andLater) {
    std::lock_guard lock(m_mutex);
    m_recordRefusal.Arm(k, andLater);
}
void CapturingTracer::RefuseGrowthRequest(std::uint64_t k, bool andLater) {
    std::lock_guard lock(m_mutex);
    m_growthRefusal.Arm(k, andLater);
}
void CapturingTracer::SetSink(std::function<void(const Record&)> sink) {
    std::lock_guard lock(m_mutex);
    m_sink = std::move(sink);
}
std::vector<CapturingTracer::Record> CapturingTracer::Records() const {
    std::lock_guard lock(m_mutex);
    return m_records;
}
void CapturingTracer::Clear() {
    std::lock_guard lock(m_mutex);
    m_records.clear();
}
std::uint64_t CapturingTracer::AcquireCalls() const {
    std::lock_guard lock(m_mutex);
    return m_acquireCalls;
}
std::uint64_t CapturingTracer::GrowthCalls() const {
    std::lock_guard lock(m_mutex);
    return m_growthCalls;
}
std::size_t CapturingTracer::OpenBuffers() const {
    std::lock_guard lock(m_mutex);
    return m_open.size();
}

zef::ResultCode ServiceLocator::GetInterface(zef::InterfaceId iid, std::uint32_t /*reserved*/,
                                             void** out) {
    std::lock_guard lock(m_mutex);
    ++m_requests[iid];
    zef::IObject* service = iid == zef::kIidAllocator ? static_cast<zef::IObject*>(m_allocator)
                            : iid == zef::kIidTracer  ? static_cast<zef::IObject*>(m_tracer)
                                                      : nullptr;
    if (auto it = m_refused.find(iid); it != m_refused.end()) {
        if (!it->second.writesService) service = nullptr;
        if (service != nullptr) service->AddRef();
        *out = service;
        return it->second.code;
    }
    if (service == nullptr) {
        *out = nullptr;
        return zef::rc::kNoInterface;
    }
    service->AddRef();
    *out = service;
    return zef::rc::kOk;
}

void ServiceLocator::Refuse(zef::InterfaceId iid, zef::ResultCode code) {
    Answer(iid, code, false);
}
void ServiceLocator::Answer(zef::InterfaceId iid, zef::ResultCode code, bool writesService) {
    std::lock_guard lock(m_mutex);
    m_refused[iid] = ScriptedAnswer{code, writesService};
}
void ServiceLocator::Accept(zef::InterfaceId iid) {
    std::lock_guard lock(m_mutex);
    m_refused.erase(iid);
}
std::uint64_t ServiceLocator::Requests(zef::InterfaceId iid) const {
    std::lock_guard lock(m_mutex);
    auto it = m_requests.find(iid);
    return it == m_requests.end() ? 0 : it->second;
}

std::string HostServicesBundle::Leftovers() const {
    std::string text;
    const auto note = [&text](const char* what, std::uint64_t count) {
        if (count != 0) text += std::string(what) + ": " + std::to_string(count) + "\n";
    };
    note("allocator references", allocator.RefCount());
    note("tracer references", tracer.RefCount());
    note("locator references", locator.RefCount());
    note("allocator blocks not freed", allocator.LiveBlocks());
    note("frees of blocks the allocator never gave", allocator.BadFrees());
    note("record buffers not submitted", tracer.OpenBuffers());
    return text;
}

}  // namespace qorvex::host
