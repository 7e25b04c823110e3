// IIterable<T> and IIterator<T> of Windows.Foundation.Collections, for runtime-class elements
// (T is the element's default interface; the ABI passes T*).
//
// Declared here rather than taken from a toolchain: mingw-w64 10's templates give GetMany four
// parameters where the published ABI has three. Each instantiation has its own parameterised
// IID, listed with the element type (CollectionIids<T>).
#pragma once

#include <win/winrt/inspectable.h>

namespace win {

// Generic interface GUIDs, the inputs of every parameterised IID.
// {FAA585EA-6214-4217-AFDA-7F46DE5869B3}
constexpr IID kGenericIterable = {
    0xFAA585EA, 0x6214, 0x4217, {0xAF, 0xDA, 0x7F, 0x46, 0xDE, 0x58, 0x69, 0xB3}};
// {6A79E863-4300-459A-9966-CBB660963EE1}
constexpr IID kGenericIterator = {
    0x6A79E863, 0x4300, 0x459A, {0x99, 0x66, 0xCB, 0xB6, 0x60, 0x96, 0x3E, 0xE1}};

// Specialised next to each element type: kIterable and kIterator, the IIDs of IIterable<T> and
// IIterator<T>, and kRuntimeClass, the element's runtime class name (the signature's input).
template <class T>
struct CollectionIids;

template <class T>
struct IIterator : IInspectable {
    static constexpr IID kIid = CollectionIids<T>::kIterator;
    // The item carries one reference for the caller.
    virtual HRESULT get_Current(T** current) = 0;
    virtual HRESULT get_HasCurrent(boolean* hasCurrent) = 0;
    virtual HRESULT MoveNext(boolean* hasCurrent) = 0;
    virtual HRESULT GetMany(UINT32 capacity, T** items, UINT32* actual) = 0;

protected:
    ~IIterator() = default;
};

template <class T>
struct IIterable : IInspectable {
    static constexpr IID kIid = CollectionIids<T>::kIterable;
    virtual HRESULT First(IIterator<T>** first) = 0;

protected:
    ~IIterable() = default;
};

// Collections that only appear in slots the module never calls: their pointers are opaque.
template <class T>
struct IVector;
template <class T>
struct IVectorView;

}  // namespace win
