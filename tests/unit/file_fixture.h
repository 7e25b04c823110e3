// A scratch corner of the file system for the file and volume contract tests, set up alike on
// the simulated machine (through its controls) and on the real system (the Windows build, run
// under Wine): a fresh folder with files and folders in it, hard links and a mounted volume
// where the system can make them, and the process's current folder moved into it. Everything
// is put back when the fixture ends. The simulated implementation is file_fixture_sim.cpp, the
// real one tests/windows/file_fixture_windows.cpp.
//
// Threading: one thread; one fixture at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qorvex::test {

class FileFixture {
public:
    FileFixture();
    ~FileFixture();
    FileFixture(const FileFixture&) = delete;
    FileFixture& operator=(const FileFixture&) = delete;

    // Whether the tests run on the simulated machine, where the rows Wine cannot play run too.
    static bool Simulated();

    // The fixture's folder: absolute, on drive C:, without a trailing separator.
    const std::u16string& Root() const;
    // Root() + "\" + relative.
    std::u16string Path(std::u16string_view relative) const;

    // Files and folders below Root(); their folders come into being with them. A name reaching
    // past MAX_PATH is made too (through its \\?\ form on the real system).
    void PutFile(std::u16string_view relative, std::string_view bytes);
    void PutDirectory(std::u16string_view relative);
    // A file of `size` zero bytes (sizes past 4 GiB too) without writing them: sparse on the
    // simulated machine, extended by its end of file on the real system.
    void PutFileOfSize(std::u16string_view relative, unsigned long long size);
    // Gives the file `names.front()` (made empty when missing) every further name of `names`.
    // False where the system cannot make hard links.
    bool LinkNames(const std::vector<std::u16string>& relativeNames);
    // Mounts a volume in a new folder below Root(); false where the system cannot (Wine).
    bool MountVolume(std::u16string_view relativeFolder);

    // Moves the process's current folder (the fixture starts it at Root()).
    void SetCurrentFolder(std::u16string_view path);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace qorvex::test
