// The zef object model as a host sees it: IObject and the host service interfaces.
//
// Every interface is a table of virtual operations whose first three slots are AddRef, Release
// and QueryInterface; the slot order is the binary contract between host and module, so
// operations are never reordered, and destructors are protected and non-virtual (objects
// destroy themselves in Release). Interface ids are unsigned 32-bit numbers.
//
// Threading: every operation may be called from any thread; reference counts are atomic.
#pragma once

// The interfaces are declared for 64-bit builds, where a member function has one calling
// convention. On 32-bit x86 these declarations carry none, so their operations would be called
// with the compiler's default for members instead of the convention zef hosts and modules use
// there: such a build compiles, links and then crashes on its first call.
#if !defined(_WIN64) && !(defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 8)
#error \
    "qorvex: the zef interfaces are declared for 64-bit builds only (x64 Windows); a 32-bit build would call their operations with the wrong calling convention"
#endif

#include <cstdint>

#include "zef/result_code.h"

namespace zef {

using InterfaceId = std::uint32_t;
using ClassId = std::uint32_t;

constexpr InterfaceId kIidObject = 0;
constexpr InterfaceId kIidObjectFactory = 0x80077a33u;
constexpr InterfaceId kIidObjectFactoryProvider = 0x1fc4ee7du;
constexpr InterfaceId kIidAllocator = 0x9cca5603u;
constexpr InterfaceId kIidTracer = 0x6ef3329bu;

class IObject {
public:
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;
    // Writes this object into *out and adds a reference (result 0), or answers 0x80000001.
    virtual ResultCode QueryInterface(InterfaceId iid, void** out) = 0;

protected:
    ~IObject() = default;
};

// The host's locator, handed to every factory call. Never asked for by id.
class IServiceLocator : public IObject {
public:
    // iid is kIidAllocator or kIidTracer; reserved is 0. A non-negative result means *out holds
    // one owning reference.
    virtual ResultCode GetInterface(InterfaceId iid, std::uint32_t reserved, void** out) = 0;

protected:
    ~IServiceLocator() = default;
};

// The host's allocator (iid 0x9cca5603).
class IAllocator : public IObject {
public:
    // A block of at least size bytes, aligned for any object, or null.
    virtual void* Alloc(std::uint64_t size) = 0;
    // Host-defined; the module never calls it.
    virtual void* Realloc(void* block, std::uint64_t size) = 0;
    // Takes back a block that Alloc of this allocator gave.
    virtual void Free(void* block) = 0;

protected:
    ~IAllocator() = default;
};

// The host's tracer (iid 0x6ef3329b).
class ITracer : public IObject {
public:
    // Status 0 grants: *buffer then designates at least size writable bytes. Level 1000 grows an
    // open record whose buffer *buffer already holds; its bytes are kept. Other status refuses.
    virtual std::uint32_t AcquireRecordBuffer(std::uint32_t level, char** buffer,
                                              std::uint64_t size) = 0;
    // Hands over a finished record of length bytes (no terminator, no line end).
    virtual std::uint32_t SubmitRecord(char* buffer, std::uint64_t length) = 0;

protected:
    ~ITracer() = default;
};

// A class factory (iid 0x80077a33).
class IObjectFactory : public IObject {
public:
    virtual ResultCode CreateInstance(IServiceLocator* locator, InterfaceId iid, void** out) = 0;

protected:
    ~IObjectFactory() = default;
};

// The module's class registry (iid 0x1fc4ee7d).
class IObjectFactoryProvider : public IObject {
public:
    virtual ResultCode GetObjectFactory(IServiceLocator* locator, ClassId classId, void** out) = 0;

protected:
    ~IObjectFactoryProvider() = default;
};

}  // namespace zef
