// The file fixture on the simulated machine: a fresh machine whose controls make the files,
// links and mounted volumes.
#include "unit/file_fixture.h"

#include <winsim/sim.h>

namespace qorvex::test {

struct FileFixture::Impl {
    winsim::ScopedMachine machine;
    std::u16string root = u"C:\\qorvex-files";
};

FileFixture::FileFixture() : m_impl(std::make_unique<Impl>()) {
    winsim::PutDirectory(m_impl->root);
    winsim::SetCurrentDirectory(m_impl->root);
}

FileFixture::~FileFixture() = default;

bool FileFixture::Simulated() {
    return true;
}

const std::u16string& FileFixture::Root() const {
    return m_impl->root;
}

std::u16string FileFixture::Path(std::u16string_view relative) const {
    return m_impl->root + u"\\" + std::u16string(relative);
}

void FileFixture::PutFile(std::u16string_view relative, std::string_view bytes) {
    winsim::PutFile(Path(relative), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

void FileFixture::PutFileOfSize(std::u16string_view relative, unsigned long long size) {
    winsim::PutSparseFile(Path(relative), {}, size);
}

void FileFixture::PutDirectory(std::u16string_view relative) {
    winsim::PutDirectory(Path(relative));
}

bool FileFixture::LinkNames(const std::vector<std::u16string>& relativeNames) {
    std::vector<std::u16string> names;
    for (const auto& name : relativeNames) names.push_back(Path(name));
    winsim::LinkNames(names);
    return true;
}

bool FileFixture::MountVolume(std::u16string_view relativeFolder) {
    winsim::MountVolume(Path(relativeFolder));
    return true;
}

void FileFixture::SetCurrentFolder(std::u16string_view path) {
    winsim::SetCurrentDirectory(path);
}

}  // namespace qorvex::test
