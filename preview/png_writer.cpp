#include "preview/png_writer.h"

#include <png.h>

#include <string>
#include <vector>

#include "models/model_error.h"
#include "platform/output_file.h"

namespace kestranov::preview {

using models::ModelError;

// The picture is encoded in memory and handed to the program's own output
// file, which writes it beside `out` under a temporary name and renames it
// into place when whole: a link is written through, a FIFO or device is
// written directly, a signal or a file-size limit leaves nothing behind.
void write_png(const std::filesystem::path& out, const RgbImage& image)
{
    const std::string name = out.string();
    if (image.width() <= 0 || image.height() <= 0) throw ModelError(name, "refusing to write an empty image");

    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width());
    png.height = static_cast<png_uint_32>(image.height());
    png.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    bool ok = png_image_write_to_memory(&png, nullptr, &size, 0, image.data().data(), 0, nullptr) != 0;
    std::vector<unsigned char> bytes(ok ? size : 0);
    if (ok) ok = png_image_write_to_memory(&png, bytes.data(), &size, 0, image.data().data(), 0, nullptr) != 0;
    const std::string png_message = png.message;
    png_image_free(&png);
    if (!ok) throw ModelError(name, "PNG encoding failed: " + png_message);

    OutputFile file(out, OutputFile::Mode::binary);
    if (!file.opened()) throw ModelError(name, "cannot be created");
    file.write(bytes.data(), size);
    if (!file.finish()) throw ModelError(name, "write failed; nothing was kept");
    if (!file.commit()) throw ModelError(name, "written but could not take its place; nothing was kept");
}

}  // namespace kestranov::preview
