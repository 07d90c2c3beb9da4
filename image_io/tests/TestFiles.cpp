#include "TestFiles.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "qv_image_io_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

DibPtr RandomDib(LONG width, LONG height, WORD bitCount, std::mt19937& rng) {
    DibPtr dib(new CDib);
    if (!dib->Create(width, height, bitCount, 0, BI_RGB) || !dib->AllocateBits()) {
        throw std::runtime_error("cannot create test image");
    }
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t i = 0; i < dib->GetImageSize(); ++i) {
        dib->Bits()[i] = static_cast<BYTE>(byte(rng));
    }
    return dib;
}

void PutBE16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
void PutBE32(Bytes& out, std::uint32_t v) {
    PutBE16(out, v >> 16);
    PutBE16(out, v & 0xFFFF);
}
void PutLE16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutLE32(Bytes& out, std::uint32_t v) {
    PutLE16(out, v & 0xFFFF);
    PutLE16(out, v >> 16);
}

Bytes PngChunk(const char* type, const Bytes& data) {
    Bytes chunk;
    PutBE32(chunk, static_cast<std::uint32_t>(data.size()));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
    PutBE32(chunk, static_cast<std::uint32_t>(crc));
    return chunk;
}

Bytes PngHeader(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType) {
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    PutBE32(ihdr, width);
    PutBE32(ihdr, height);
    ihdr.push_back(static_cast<std::uint8_t>(bitDepth));
    ihdr.push_back(static_cast<std::uint8_t>(colourType));
    ihdr.insert(ihdr.end(), {0, 0, 0});
    const Bytes chunk = PngChunk("IHDR", ihdr);
    file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}

Bytes TiffStructure(bool bigEndian, const std::vector<TiffEntry>& entries) {
    auto put16 = [&](Bytes& out, std::uint32_t v) {
        bigEndian ? PutBE16(out, v) : PutLE16(out, v);
    };
    auto put32 = [&](Bytes& out, std::uint32_t v) {
        bigEndian ? PutBE32(out, v) : PutLE32(out, v);
    };
    Bytes out;
    if (bigEndian) {
        out = {'M', 'M', 0, 42};
    } else {
        out = {'I', 'I', 42, 0};
    }
    put32(out, 8);
    put16(out, static_cast<std::uint32_t>(entries.size()));
    std::uint32_t extra = 8 + 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
    Bytes rationals;
    for (const TiffEntry& e : entries) {
        put16(out, e.tag);
        put16(out, e.type);
        put32(out, 1);
        if (e.type == 5) {
            put32(out, extra + static_cast<std::uint32_t>(rationals.size()));
            put32(rationals, e.value);
            put32(rationals, e.denominator);
        } else if (e.type == 3) {
            put16(out, e.value);
            put16(out, 0);
        } else {
            put32(out, e.value);
        }
    }
    put32(out, 0);
    out.insert(out.end(), rationals.begin(), rationals.end());
    return out;
}

namespace {

struct JpegErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

struct JpegReadJob {
    jpeg_decompress_struct cinfo;
    JpegErrors errors;
};

bool RunJpegRead(JpegReadJob& job, std::FILE* file, JpegHeader& header) {
    job.cinfo.err = jpeg_std_error(&job.errors.base);
    job.errors.base.error_exit = JpegErrorExit;
    if (setjmp(job.errors.jump)) {
        jpeg_destroy_decompress(&job.cinfo);
        return false;
    }
    jpeg_create_decompress(&job.cinfo);
    jpeg_stdio_src(&job.cinfo, file);
    jpeg_read_header(&job.cinfo, TRUE);
    header.jfif = job.cinfo.saw_JFIF_marker;
    header.densityUnit = job.cinfo.density_unit;
    header.densityX = job.cinfo.X_density;
    header.densityY = job.cinfo.Y_density;
    header.components = job.cinfo.num_components;
    jpeg_destroy_decompress(&job.cinfo);
    return true;
}

struct PngReadJob {
    png_structp png = nullptr;
    png_infop info = nullptr;
};

bool RunPngRead(PngReadJob& job, std::FILE* file, PngPhys& phys) {
    if (setjmp(png_jmpbuf(job.png))) {
        return false;
    }
    png_init_io(job.png, file);
    png_read_info(job.png, job.info);
    png_uint_32 x = 0, y = 0;
    int unit = -1;
    if (png_get_pHYs(job.png, job.info, &x, &y, &unit) != 0) {
        phys.present = true;
        phys.x = x;
        phys.y = y;
        phys.unit = unit;
    }
    return true;
}

}  // namespace

PngPhys ReadPngPhys(const std::string& path) {
    PngPhys phys;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return phys;
    }
    PngReadJob job;
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    job.info = png_create_info_struct(job.png);
    RunPngRead(job, file, phys);
    png_destroy_read_struct(&job.png, &job.info, nullptr);
    std::fclose(file);
    return phys;
}

JpegHeader ReadJpegHeader(const std::string& path) {
    JpegHeader header;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return header;
    }
    JpegReadJob job;
    header.ok = RunJpegRead(job, file, header);
    std::fclose(file);
    return header;
}

TiffFields ReadTiffFields(const std::string& path) {
    TiffFields f;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr) {
        return f;
    }
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &f.xResolution);
    TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &f.yResolution);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &f.resolutionUnit);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &f.samplesPerPixel);
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &f.extraSampleCount, &extra) && extra) {
        f.extraSample = extra[0];
    }
    const std::size_t rowBytes = std::size_t{width} * f.samplesPerPixel;
    f.samples.resize(rowBytes * height);
    f.ok = true;
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiff, f.samples.data() + rowBytes * y, y, 0) != 1) {
            f.ok = false;
        }
    }
    TIFFClose(tiff);
    return f;
}
