#include <gtest/gtest.h>

#include <string>

#include "core/model_files.h"
#include "files.h"
#include "models/companion_run.h"
#include "models/model_error.h"
#include "models/model_input.h"

TEST(CompanionMessages, NamesAreKeptToOnePrintableLine)
{
    const struct {
        std::string name, shown;
    } cases[] = {
        {"a\nb\x1b]0;t\x07.asc", "a?b?]0;t?.asc"},
        {"\xc3\xa9t\xc3\xa9 \xe2\x80\xa8.asc", "\xc3\xa9t\xc3\xa9 \xe2\x80\xa8.asc"},
        {"c1 \xc2\x85 \xc2\x9b.asc", "c1 ? ?.asc"},
        {"lone \x9b \xc2 \xff.asc", "lone ? ? ?.asc"},
        {"cut \xe2\x80", "cut ??"},
    };
    for (const auto& c : cases) EXPECT_EQ(kestranov::models::one_line(c.name), c.shown) << c.name;
}

// A GeoTIFF, or a VRT as a tile plan's mosaic, reaches the reader its
// companion hands in once the name is a regular file (GDAL would wait on a
// FIFO); without a reader it is an unrecognised file, as before GeoTIFFs
// were read.
TEST(ModelDoor, GeoTiffsReachTheReaderHandedIn)
{
    namespace km = kestranov::models;
    TempDir dir;
    write_file(dir / "g.TIFF", "II*");
    write_file(dir / "mosaic.vrt", "<VRTDataset/>");
    std::filesystem::create_directory(dir / "d.tif");
    int calls = 0;
    const km::GeoTiffReader reader = [&](const std::filesystem::path&) {
        ++calls;
        return km::Model{};
    };
    km::read_model(dir / "g.TIFF", std::nullopt, dir / "g.png", reader);
    km::read_model(dir / "mosaic.vrt", std::nullopt, dir / "mosaic.png", reader);
    EXPECT_EQ(calls, 2);
    const auto problem = [&](const char* input, const km::GeoTiffReader& with) -> std::string {
        try {
            km::read_model(dir / input, std::nullopt, dir / "out.png", with);
        } catch (const km::ModelError& e) {
            return e.problem();
        }
        return "read";
    };
    EXPECT_EQ(problem("d.tif", reader), "is a directory, not a grid file");
    EXPECT_EQ(problem("g.TIFF", {}), "unrecognised file type (expected " + kestranov::model_file_names() + ")");
    EXPECT_EQ(problem("mosaic.vrt", {}), problem("g.TIFF", {}));
    EXPECT_EQ(calls, 2);
}
