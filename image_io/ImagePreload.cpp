#include "image_io/ImagePreload.h"

#include "image_io/ImageFile.h"

namespace {

std::pair<HRESULT, ImagePtr> Load(const std::string& path) {
    ImagePtr image;
    const HRESULT hr = LoadImageFromFile(image, path);
    return {hr, image};
}

}  // namespace

CImagePreload::CImagePreload(std::string path, CMemoryReservation memory)
    : m_path(std::move(path)), m_memory(std::move(memory)) {
    try {
        m_result = std::async(std::launch::async, Load, m_path);
    } catch (...) {
        // No thread: Take decodes the file itself.
    }
}

CImagePreload::~CImagePreload() {
    // The decode ends before its reservation goes.
    if (m_result.valid()) {
        m_result.wait();
    }
}

HRESULT CImagePreload::Take(ImagePtr& image, CMemoryReservation& memory) {
    std::pair<HRESULT, ImagePtr> result;
    try {
        result = m_result.valid() ? m_result.get() : Load(m_path);
    } catch (...) {
        result = Load(m_path);
    }
    if (SUCCEEDED(result.first)) {
        image = std::move(result.second);
    }
    memory = std::move(m_memory);
    return result.first;
}
