#!/usr/bin/env bash
# Demo: writes a synthetic 300 m x 300 m airborne LIDAR cloud, then grids it
# with kestranov twice, answering its questions from scripted input: once to
# an ASCII grid, once to a 16-bit raster in centimetres; then kestranov-grid's
# ground model beside the TIN of the same points (one picture of both), and
# the ground model as a plan of 4 tiles run by GNU parallel.
#
# usage: tools/demo.sh BUILD_DIR      (`make demo` runs tools/demo.sh build)
#
# Everything lands in demo/ at the repository root, recreated on each run.
# kestranov runs with demo/ as its working directory, which it treats as the
# c:\ drive, so c:\images\demo\cloud.xyz is demo/images/demo/cloud.xyz.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
demo="$root/demo"
images="$demo/images/demo"

# First of the given paths that is an executable file, or nothing.
find_exe() {
  local p
  for p in "$@"; do
    if [ -f "$p" ] && [ -x "$p" ]; then
      echo "$p"
      return 0
    fi
  done
  return 0
}

make_cloud=$(find_exe "$build_dir/tools/make_cloud" "$build_dir/make_cloud")
kestranov=$(find_exe "$build_dir/kestranov")
preview=$(find_exe "$build_dir/kestranov-preview" "$build_dir/preview/kestranov-preview")
exporter=$(find_exe "$build_dir/kestranov-export")
summary=$(find_exe "$build_dir/export/geotiff_summary")
gridder=$(find_exe "$build_dir/kestranov-grid")
if [ -z "$make_cloud" ]; then
  echo "demo: make_cloud not found under $build_dir (build the make_cloud target)" >&2
  exit 1
fi
if [ -z "$kestranov" ]; then
  echo "demo: $build_dir/kestranov not found (build the kestranov target)" >&2
  exit 1
fi

# Guards against a dialogue that waits for input it will never get.
limit=()
if command -v timeout >/dev/null 2>&1; then limit=(timeout 600); fi

size_of() { wc -c <"$1" | tr -d ' '; }

rm -rf "$demo"
mkdir -p "$images"

echo "== Writing the synthetic cloud"
"$make_cloud" "$images/cloud.xyz" --points 300000 --size 300
echo "   demo/images/demo/cloud.xyz ($(size_of "$images/cloud.xyz") bytes)"

# run_kestranov LABEL ANSWERS...: one answer per question, in dialogue order.
run_kestranov() {
  local label=$1
  shift
  local answers="$demo/answers_$label.txt"
  printf '%s\n' "$@" >"$answers"
  echo
  echo "== kestranov ($label), typed answers: $*"
  local start end status=0
  start=$(date +%s%N)
  (cd "$demo" && ${limit[@]+"${limit[@]}"} "$kestranov" <"$answers") || status=$?
  end=$(date +%s%N)
  if [ "$status" -ne 0 ]; then
    echo "demo: kestranov ($label) exited with status $status" >&2
    exit 1
  fi
  echo "== kestranov ($label) finished in $(((end - start) / 1000000)) ms"
}

# folder, number of files, file 1, cell size (m), returns (0 first / 1 last),
# DEM name, format (0 ascii / 1 raster)[, raster type (0 = 16 bits), scale (2 = cm)]
run_kestranov ascii demo 1 cloud 1 0 dem_ascii 0
run_kestranov raster demo 1 cloud 1 0 dem_raster 1 0 2

asc="$images/dem_ascii_lidar.asc"
raw="$images/dem_raster_lidar_m2.raw"
txt="$images/dem_raster_lidar_m2.txt"

echo
echo "== Results"
missing=0
for f in "$asc" "$raw" "$txt"; do
  if [ -f "$f" ]; then
    printf '   %-40s %12s bytes\n' "${f#"$root"/}" "$(size_of "$f")"
  else
    printf '   %-40s MISSING\n' "${f#"$root"/}"
    missing=1
  fi
done
if [ "$missing" -ne 0 ]; then
  echo "demo: kestranov reported success but an expected output is missing" >&2
  exit 1
fi

# The grid files use CR LF line ends; strip the CRs for the terminal.
echo
echo "== Start of ${asc#"$root"/}"
head -c 300 "$asc" | tr -d '\r'
echo
echo "== ${txt#"$root"/}"
head -c 1000 "$txt" | tr -d '\r'
echo

if [ -n "$preview" ]; then
  echo
  echo "== Previews"
  preview_failed=0
  "$preview" "$asc" -o "$images/dem_ascii_lidar.png" || preview_failed=1
  "$preview" "$raw" --scale cm -o "$images/dem_raster_lidar_m2.png" || preview_failed=1
  for f in "$images/dem_ascii_lidar.png" "$images/dem_raster_lidar_m2.png"; do
    if [ -f "$f" ]; then echo "   ${f#"$root"/}"; fi
  done
  if [ "$preview_failed" -ne 0 ]; then echo "demo: warning: a preview failed (the grids above are fine)" >&2; fi
fi

if [ -n "$exporter" ] && [ -n "$summary" ]; then
  echo
  echo "== GeoTIFFs (kestranov-export), read back through GDAL"
  "$exporter" "$asc" -o "$images/dem_ascii_lidar.tif"
  "$exporter" "$raw" --scale cm -o "$images/dem_raster_lidar_m2.tif"
  (cd "$root" && "$summary" "${images#"$root"/}/dem_ascii_lidar.tif" "${images#"$root"/}/dem_raster_lidar_m2.tif")
else
  echo
  echo "== GeoTIFFs: kestranov-export is not built (it needs GDAL: Debian's libgdal-dev)"
fi

# side_by_side LEFT.tif RIGHT.tif COLS ROWS OUT.vrt: a GDAL virtual raster
# of the two grids' first bands, LEFT west of RIGHT with 8 nodata columns
# between them, for one picture of both.
side_by_side() {
  local gap=8
  {
    echo "<VRTDataset rasterXSize=\"$(($3 * 2 + gap))\" rasterYSize=\"$4\">"
    echo "  <VRTRasterBand dataType=\"Float32\" band=\"1\">"
    echo "    <NoDataValue>-9999</NoDataValue>"
    local file at=0
    for file in "$1" "$2"; do
      echo "    <SimpleSource>"
      echo "      <SourceFilename relativeToVRT=\"1\">$(basename "$file")</SourceFilename>"
      echo "      <SourceBand>1</SourceBand>"
      echo "      <SrcRect xOff=\"0\" yOff=\"0\" xSize=\"$3\" ySize=\"$4\"/>"
      echo "      <DstRect xOff=\"$at\" yOff=\"0\" xSize=\"$3\" ySize=\"$4\"/>"
      echo "    </SimpleSource>"
      at=$(($3 + gap))
    done
    echo "  </VRTRasterBand>"
    echo "</VRTDataset>"
  } >"$5"
}

if [ -n "$gridder" ]; then
  echo
  echo "== Ground only (kestranov-grid): the same scene as a survey LAS, class 2, 1 m"
  "$make_cloud" "$images/survey.las" --points 300000 --size 300 --las --survey
  "$gridder" "$images/survey.las" --cell 1 --class 2 --keep lowest --srs EPSG:32642 -o "$images/ground.tif" |
    tee "$demo/ground.out"
  "$gridder" "$images/survey.las" --cell 1 --class 2 --keep lowest --srs EPSG:32642 -q -o "$images/ground.asc"
  if [ -n "$summary" ]; then (cd "$root" && "$summary" "${images#"$root"/}/ground.tif"); fi
  echo
  echo "== The ground TIN (kestranov-grid --output-type tin): the same points triangulated, no holes"
  "$gridder" "$images/survey.las" --cell 1 --class 2 --keep lowest --srs EPSG:32642 --output-type tin \
    -o "$images/ground_tin.tif"
  if [ -n "$preview" ]; then
    "$preview" "$images/ground.asc" -o "$images/ground.png" && echo "   ${images#"$root"/}/ground.png"
    "$preview" "$images/ground_tin.tif" -o "$images/ground_tin.png" && echo "   ${images#"$root"/}/ground_tin.png"
    # Side by side: the lowest ground point of each cell (holes under the
    # roofs), then the TIN of the same points.
    read -r cols rows < <(sed -n 's/^grid: \([0-9]*\) x \([0-9]*\) cells.*/\1 \2/p' "$demo/ground.out")
    side_by_side "$images/ground.tif" "$images/ground_tin.tif" "$cols" "$rows" "$images/ground_and_tin.vrt"
    "$preview" "$images/ground_and_tin.vrt" -o "$images/ground_and_tin.png" &&
      echo "   ${images#"$root"/}/ground_and_tin.png (left: class 2 kept lowest, with holes; right: its TIN)"
  fi
else
  echo
  echo "== Ground only: kestranov-grid is not built (it needs GDAL: Debian's libgdal-dev)"
fi

if [ -n "$gridder" ] && command -v parallel >/dev/null 2>&1; then
  echo
  echo "== Tiles (kestranov-grid --tile-size): the survey in 4 tiles of 150 m, run by GNU parallel"
  "$gridder" "$images/survey.las" --cell 1 --class 2 --keep lowest --srs EPSG:32642 \
    --bounds 480000 2150000 480300 2150300 --tile-size 150 -o "$demo/tiles"
  parallel -j "$(nproc 2>/dev/null || echo 2)" <"$demo/tiles/jobs.txt" >"$demo/tiles/logs/parallel.out"
  if command -v gdalinfo >/dev/null 2>&1; then
    echo "== gdalinfo demo/tiles/mosaic.vrt (short)"
    (cd "$demo/tiles" && gdalinfo -nomd -norat -noct mosaic.vrt) |
      grep -E '^(Driver|Size is|Origin|Pixel Size|Band|  NoData|  Type)|tiles/|PROJCRS\[|^    ID\["EPSG"' | head -20
  fi
elif [ -n "$gridder" ]; then
  echo
  echo "== Tiles: GNU parallel is not installed (tools/install_deps.sh)"
fi
