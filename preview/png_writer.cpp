#include "png_writer.h"

#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "preview_error.h"

namespace kestranov::preview {

std::filesystem::path temporary_name_for(const std::filesystem::path& out) {
    // Same directory, so the final rename cannot cross file systems; the pid keeps
    // two previews of the same grid from trampling each other.
    std::filesystem::path tmp = out;
    tmp += ".part-" + std::to_string(static_cast<long>(::getpid()));
    return tmp;
}

void write_png(const std::filesystem::path& out, const RgbImage& image) {
    const std::string name = out.string();
    if (image.width() <= 0 || image.height() <= 0) throw PreviewError(name, "refusing to write an empty image");
    const std::filesystem::path tmp = temporary_name_for(out);

    // "x": fail rather than clobber if a stale temporary of ours is somehow there.
    std::FILE* f = std::fopen(tmp.c_str(), "wbx");
    if (f == nullptr) {
        const int err = errno;
        throw PreviewError(name, "cannot create " + tmp.string() + ": " + std::strerror(err));
    }

    const auto fail = [&](const std::string& problem) {
        std::error_code ignored;
        std::filesystem::remove(tmp, ignored);
        return PreviewError(name, problem);
    };

    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width());
    png.height = static_cast<png_uint_32>(image.height());
    png.format = PNG_FORMAT_RGB;
    const int ok = png_image_write_to_stdio(&png, f, 0, image.data().data(), 0, nullptr);
    const std::string png_message = png.message;
    png_image_free(&png);
    if (!ok) {
        std::fclose(f);
        throw fail("PNG encoding failed: " + png_message);
    }
    const bool write_error = std::fflush(f) != 0 || std::ferror(f) != 0;
    const int flush_errno = errno;
    if (std::fclose(f) != 0 || write_error) {
        const int err = write_error ? flush_errno : errno;
        throw fail("write failed: " + std::string(std::strerror(err)));
    }

    std::error_code ec;
    std::filesystem::rename(tmp, out, ec);
    if (ec) throw fail("cannot rename " + tmp.string() + " into place: " + ec.message());
}

}  // namespace kestranov::preview
