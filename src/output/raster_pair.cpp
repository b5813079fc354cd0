#include "output/raster_pair.h"

#include "core/fatal.h"
#include "core/messages.h"
#include "output/raw_image.h"

namespace kestranov {

void write_raster(const OutputTarget& image, const OutputTarget& descriptor, GridView grid, const DescriptorInfo& info)
{
    OutputFile f4(image.host, OutputFile::Mode::binary);
    require_created(f4, image);
    OutputFile f4d(descriptor.host, OutputFile::Mode::text);
    require_created(f4d, descriptor);
    if (f4.same_target(f4d))
        fail(outputs_are_one_file(image.shown, descriptor.shown, "the image and its descriptor need two"));

    write_raw_image(f4, grid, info.itype, info.coef);
    if (!f4.finish()) write_failed(image.shown);
    f4d.write(descriptor_text(info));
    if (!f4d.finish()) write_failed(descriptor.shown);
    const int misplaced = commit_pair(f4, f4d);
    if (misplaced == 1) place_failed(image.shown);
    if (misplaced == 2) place_failed(descriptor.shown);
}

}  // namespace kestranov
