#include "TestFiles.h"

#include <cstdlib>
#include <cstring>

#include <png.h>
#include <tiffio.h>
#include <zlib.h>
#include <cstdio>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

Bytes ReadBytes(const std::string& path) {
    const std::string bytes = ReadFileBytes(path);
    return Bytes(bytes.begin(), bytes.end());
}

SaverPtr SaverFor(const char* keyword, std::int32_t quality, std::uint32_t compression) {
    SaverPtr saver;
    SetFormatSaver(saver, OutputFormatByKeyword(keyword)->saveType, quality, compression);
    return saver;
}

void PutBE16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
void PutBE32(Bytes& out, std::uint32_t v) {
    PutBE16(out, v >> 16);
    PutBE16(out, v & 0xFFFF);
}
void PutLE32(Bytes& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
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
    ihdr.insert(ihdr.end(), {static_cast<std::uint8_t>(bitDepth),
                             static_cast<std::uint8_t>(colourType), 0, 0, 0});
    const Bytes chunk = PngChunk("IHDR", ihdr);
    file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}

Bytes TiffStructure(bool bigEndian, const std::vector<TiffEntry>& entries) {
    auto put16 = [&](Bytes& out, std::uint32_t v) {
        out.push_back(static_cast<std::uint8_t>(bigEndian ? v >> 8 : v));
        out.push_back(static_cast<std::uint8_t>(bigEndian ? v : v >> 8));
    };
    auto put32 = [&](Bytes& out, std::uint32_t v) {
        bigEndian ? PutBE32(out, v) : PutLE32(out, v);
    };
    Bytes out = bigEndian ? Bytes{'M', 'M', 0, 42} : Bytes{'I', 'I', 42, 0};
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

Bytes FlatJpeg(int width, int height, const std::vector<std::uint8_t>& sample, bool progressive) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = static_cast<int>(sample.size());
    cinfo.in_color_space = sample.size() == 1   ? JCS_GRAYSCALE
                           : sample.size() == 3 ? JCS_RGB
                                                : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row;
    for (int x = 0; x < width; ++x) {
        row.insert(row.end(), sample.begin(), sample.end());
    }
    JSAMPROW rows[1] = {row.data()};
    while (cinfo.next_scanline < cinfo.image_height) {
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// The JPEG header is walked by hand, marker by marker; the profile is
// libjpeg's.
JpegHeader ReadJpegHeader(const std::string& path) {
    const Bytes file = ReadBytes(path);
    JpegHeader header;
    {
        jpeg_decompress_struct cinfo{};
        jpeg_error_mgr errors{};
        cinfo.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
        JOCTET* icc = nullptr;
        unsigned size = 0;
        if (file.size() > 2 && jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK &&
            jpeg_read_icc_profile(&cinfo, &icc, &size)) {
            header.profile.assign(icc, icc + size);
            std::free(icc);
        }
        jpeg_destroy_decompress(&cinfo);
    }
    for (std::size_t at = 2; at + 4 <= file.size() && file[at] == 0xFF;) {
        const int marker = file[at + 1];
        const std::size_t length = std::size_t{file[at + 2]} << 8 | file[at + 3];
        const std::uint8_t* data = &file[at + 4];
        if (marker == 0xE0 && length >= 16 && std::memcmp(data, "JFIF", 5) == 0) {
            header.jfif = true;
            header.densityUnit = data[7];
            header.densityX = data[8] << 8 | data[9];
            header.densityY = data[10] << 8 | data[11];
        } else if ((marker == 0xC0 || marker == 0xC1 || marker == 0xC2) && length >= 8) {
            header.components = data[5];
            header.ok = true;
            break;
        }
        at += 2 + length;
    }
    return header;
}

TiffFields ReadTiffFields(const std::string& path) {
    TiffFields f;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr) {
        return f;
    }
    std::uint32_t height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &f.xResolution);
    TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &f.yResolution);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &f.resolutionUnit);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &f.samplesPerPixel);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &f.bitsPerSample);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &f.photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &f.compression);
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extra) {
        f.extraSample = extra[0];
    }
    std::uint32_t profileSize = 0;
    void* profile = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileSize, &profile) && profile) {
        const auto* bytes = static_cast<const std::uint8_t*>(profile);
        f.profile.assign(bytes, bytes + profileSize);
    }
    const auto rowBytes = static_cast<std::size_t>(TIFFScanlineSize64(tiff));
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

namespace {

void PngFailed(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

// Everything with a destructor lives in the caller, so that a failure jumps
// past none.
bool ReadPngRows(png_structp png, png_infop info, PngFile& out, std::vector<png_bytep>& pointers) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_read_info(png, info);
    out.colourType = png_get_color_type(png, info);
    out.bitDepth = png_get_bit_depth(png, info);
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER) {
        out.pixelsPerMetreX = x;
        out.pixelsPerMetreY = y;
    }
    png_charp name = nullptr;
    int method = 0;
    png_bytep profile = nullptr;
    png_uint_32 size = 0;
    if (png_get_iCCP(png, info, &name, &method, &profile, &size)) {
        out.profile.assign(profile, profile + size);
    }
    png_set_bgr(png);
    png_set_swap(png);
    png_read_update_info(png, info);
    out.rows.assign(png_get_image_height(png, info), Bytes(png_get_rowbytes(png, info)));
    for (Bytes& row : out.rows) {
        pointers.push_back(row.data());
    }
    png_read_image(png, pointers.data());
    return true;
}

}  // namespace

PngFile ReadPngFile(const std::string& path) {
    PngFile out;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return out;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFailed, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    std::vector<png_bytep> pointers;
    out.ok = ReadPngRows(png, info, out, pointers);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return out;
}
