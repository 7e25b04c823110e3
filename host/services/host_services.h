// The reference host's services: an allocator, a tracer and a service locator that a zef host
// hands to a module. qorvex-host uses them to run the module; the tests use them as the host
// double, so each can be told to refuse, and each counts what the module did with it.
//
// The objects are owned by whoever created them (a test fixture, the CLI): Release never
// deletes, and RefCount() lets a test check that the module gave back every reference it took.
//
// Threading: every operation may be called from any thread at once (one mutex per object).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "zef/object.h"
#include "zef/rtl/implements.h"

namespace qorvex::host {

// Reference counting and QueryInterface for a host object implementing interface I. The
// creator owns the object: the last Release does not end it.
template <class I, zef::InterfaceId Iid>
class HostObject : public zef::implements<HostObject<I, Iid>, I, Iid> {
    friend zef::implements<HostObject<I, Iid>, I, Iid>;

public:
    // References held by others than the creator (the creator's own one is not counted).
    std::uint32_t RefCount() const { return this->ReferenceCount() - 1; }

protected:
    HostObject() = default;
    ~HostObject() = default;

private:
    void OnFinalRelease() noexcept {}
};

// Refuses the from-th request counted since it was armed (1 = the next one), and with andLater
// every later one too. Disarmed (from 0) it refuses nothing. Not thread-safe by itself: the
// owner's mutex guards it.
class RequestRefusal {
public:
    void Arm(std::uint64_t from, bool andLater) {
        m_from = from;
        m_andLater = andLater;
        m_seen = 0;
    }
    // Counts one request; true when it is to be refused.
    bool Refuses() {
        if (m_from == 0) return false;
        ++m_seen;
        return m_seen == m_from || (m_andLater && m_seen > m_from);
    }

private:
    std::uint64_t m_from = 0;
    std::uint64_t m_seen = 0;
    bool m_andLater = false;
};

// A counting allocator on the C heap that can refuse: all requests, every request after the
// first n granted ones, or the k-th request from now (alone or with every later one).
class CountingAllocator final : public HostObject<zef::IAllocator, zef::kIidAllocator> {
public:
    CountingAllocator() = default;
    CountingAllocator(const CountingAllocator&) = delete;
    CountingAllocator& operator=(const CountingAllocator&) = delete;
    ~CountingAllocator();

    void* Alloc(std::uint64_t size) override;
    void* Realloc(void* block, std::uint64_t size) override;
    void Free(void* block) override;

    void RefuseAll(bool refuse);
    // Grants n more requests, then refuses; a negative n grants all.
    void RefuseAfter(std::int64_t n);
    // Refuses the k-th request from now (k >= 1), and with andLater every later one; 0 ends it.
    void RefuseRequest(std::uint64_t k, bool andLater);

    std::uint64_t Allocations() const;
    std::uint64_t Frees() const;
    std::uint64_t Refusals() const;
    std::size_t LiveBlocks() const;
    std::uint64_t LiveBytes() const;
    // Frees of blocks this allocator never gave (or gave back already).
    std::uint64_t BadFrees() const;

private:
    mutable std::mutex m_mutex;
    std::map<void*, std::uint64_t> m_live;
    std::uint64_t m_allocations = 0;
    std::uint64_t m_frees = 0;
    std::uint64_t m_refusals = 0;
    std::uint64_t m_badFrees = 0;
    std::uint64_t m_liveBytes = 0;
    bool m_refuseAll = false;
    std::int64_t m_grantsLeft = -1;
    RequestRefusal m_refusal;
};

// A tracer that keeps the records it receives with their levels.
class CapturingTracer final : public HostObject<zef::ITracer, zef::kIidTracer> {
public:
    struct Record {
        std::uint32_t level;
        std::string text;
    };

    CapturingTracer() = default;
    CapturingTracer(const CapturingTracer&) = delete;
    CapturingTracer& operator=(const CapturingTracer&) = delete;
    ~CapturingTracer();

    std::uint32_t AcquireRecordBuffer(std::uint32_t level, char** buffer,
                                      std::uint64_t size) override;
    std::uint32_t SubmitRecord(char* buffer, std::uint64_t length) override;

    // Records above this level are refused (the host's verbosity); default: none refused.
    void SetMaxLevel(std::uint32_t level);
    void RefuseRecords(bool refuse);
    void RefuseGrowth(bool refuse);
    // Refuses the k-th record request (or growth request) from now (k >= 1), and with andLater
    // every later one; 0 ends it.
    void RefuseRecordRequest(std::uint64_t k, bool andLater);
    void RefuseGrowthRequest(std::uint64_t k, bool andLater);
    // Grants records (status 0) but hands out no buffer, as a host may that wants none.
    void GrantWithoutBuffer(bool grant);
    // Also hand every submitted record to sink (e.g. print it), in submission order.
    void SetSink(std::function<void(const Record&)> sink);

    std::vector<Record> Records() const;
    void Clear();
    std::uint64_t AcquireCalls() const;
    std::uint64_t GrowthCalls() const;
    // Buffers granted and not yet submitted (a writer that never closed its record).
    std::size_t OpenBuffers() const;

private:
    mutable std::mutex m_mutex;
    struct OpenBuffer {
        std::uint32_t level;
        std::uint64_t size;
    };
    std::map<char*, OpenBuffer> m_open;  // granted buffers not yet submitted
    std::vector<Record> m_records;
    std::function<void(const Record&)> m_sink;
    std::uint32_t m_maxLevel = 0xFFFFFFFFu;
    bool m_refuseRecords = false;
    bool m_refuseGrowth = false;
    bool m_grantWithoutBuffer = false;
    RequestRefusal m_recordRefusal;
    RequestRefusal m_growthRefusal;
    std::uint64_t m_acquireCalls = 0;
    std::uint64_t m_growthCalls = 0;
};

// A service locator that hands out the allocator and the tracer, or refuses either with a
// chosen code.
class ServiceLocator final : public HostObject<zef::IServiceLocator, 0xFFFFFFFFu> {
public:
    ServiceLocator(zef::IAllocator* allocator, zef::ITracer* tracer)
        : m_allocator(allocator), m_tracer(tracer) {}
    ServiceLocator(const ServiceLocator&) = delete;
    ServiceLocator& operator=(const ServiceLocator&) = delete;

    zef::ResultCode GetInterface(zef::InterfaceId iid, std::uint32_t reserved, void** out) override;

    // Refuses iid with code (negative) from now on; Accept undoes it.
    void Refuse(zef::InterfaceId iid, zef::ResultCode code);
    // Answers iid with code from now on, writing the service into the output (with a reference)
    // or null: a host that breaks the contract, refusing while handing out a reference, or
    // answering success with nothing. Accept undoes it.
    void Answer(zef::InterfaceId iid, zef::ResultCode code, bool writesService);
    void Accept(zef::InterfaceId iid);
    std::uint64_t Requests(zef::InterfaceId iid) const;

private:
    mutable std::mutex m_mutex;
    zef::IAllocator* m_allocator;
    zef::ITracer* m_tracer;
    struct ScriptedAnswer {
        zef::ResultCode code;
        bool writesService;
    };
    std::map<zef::InterfaceId, ScriptedAnswer> m_refused;
    std::map<zef::InterfaceId, std::uint64_t> m_requests;
};

// The three services wired together, as a test fixture or the CLI uses them.
struct HostServicesBundle {
    CountingAllocator allocator;
    CapturingTracer tracer;
    ServiceLocator locator{&allocator, &tracer};

    // What the module has not given back, one item per line: references it still holds, blocks
    // it never freed or freed wrongly, records it never submitted. Empty when all is back.
    std::string Leftovers() const;
};

}  // namespace qorvex::host
