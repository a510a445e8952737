#!/bin/bash
# Draws the artwork of Halcyra Creator into res/art/: the page bitmaps, the
# button skins, the panel pieces, the splash picture and the icon group.
# Every bitmap is written as an uncompressed 24-bit BMP (BMP3) at its exact
# resource size; the icon holds 48x48, 32x32 and 16x16 images in 24-bit colour
# with a transparency mask.
#
# Usage: tools/make_art.sh [output folder]     (default: res/art)
#        ART_SHEET=sheet.png tools/make_art.sh  also renders a contact sheet of
#        every image at twice its size, for review.
# Needs ImageMagick 6 (/usr/bin/convert), the DejaVu fonts and python3.
set -euo pipefail

C=/usr/bin/convert
FONTS=/usr/share/fonts/truetype/dejavu
SANS=$FONTS/DejaVuSans.ttf
BOLD=$FONTS/DejaVuSans-Bold.ttf
COND=$FONTS/DejaVuSansCondensed.ttf
CONDBOLD=$FONTS/DejaVuSansCondensed-Bold.ttf
OBLIQUE=$FONTS/DejaVuSans-Oblique.ttf

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-$ROOT/res/art}
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
mkdir -p "$OUT"

# Palette shared by all pictures.
NAVY='#0E3F78'
BLUE='#1E63B0'
ORANGE='#F08A12'
DARK_ORANGE='#B85208'
INK='#3C4550'

# Writes image $1 as a 24-bit BMP named $2 and checks that it is $3 (WxH).
write_bmp() {
    $C "$1" -background white -alpha remove -alpha off -type TrueColor \
        -define bmp:format=bmp3 "BMP3:$OUT/$2"
    local size
    size=$($C "$OUT/$2" -format '%wx%h' info:)
    if [ "$size" != "$3" ]; then
        echo "make_art: $2 is $size, expected $3" >&2
        exit 1
    fi
}

# A shape filled with an image: $1 fill image, $2 mask (white = inside), $3 result.
fill_mask() {
    $C "$1" "$2" -alpha off -compose CopyOpacity -composite "$3"
}

# ---------------------------------------------------------------------------
# Product logo: a disk platter seen from above, with one partition (a quarter
# wedge in orange) pulled out of it. Drawn on a 512 x 512 canvas and scaled
# down; $1 is the rim width, $2 draws the track rings (1) or not (0), $3 the result.
draw_logo() {
    local rim=$1 tracks=$2 out=$3
    local body="path 'M 248,264 L 248,44 A 220,220 0 1,0 468,264 Z'"
    local wedge="path 'M 264,248 L 264,28 A 220,220 0 0,1 484,248 Z'"
    $C -size 900x900 radial-gradient:"#6CB8F2"-"#0E4585" -crop 512x512+300+290 +repage "$T/lg_body_grad.png"
    $C -size 512x512 xc:black -fill white -draw "$body" "$T/lg_body_mask.png"
    fill_mask "$T/lg_body_grad.png" "$T/lg_body_mask.png" "$T/lg_body.png"
    $C -size 900x900 radial-gradient:"#FFC766"-"#E0660A" -crop 512x512+250+350 +repage "$T/lg_wedge_grad.png"
    $C -size 512x512 xc:black -fill white -draw "$wedge" "$T/lg_wedge_mask.png"
    fill_mask "$T/lg_wedge_grad.png" "$T/lg_wedge_mask.png" "$T/lg_wedge.png"
    $C -size 512x512 xc:none -fill none -strokewidth "$rim" \
        -stroke '#0B3A70' -draw "$body" -stroke "$DARK_ORANGE" -draw "$wedge" "$T/lg_rims.png"
    local hub_r=$((48 + rim / 2))
    $C -size 512x512 xc:none -fill white -stroke '#0B3A70' -strokewidth "$rim" \
        -draw "circle 248,264 248,$((264 - hub_r))" \
        -fill '#15569E' -stroke none -draw "circle 248,264 248,$((264 - hub_r / 3))" "$T/lg_hub.png"
    if [ "$tracks" = 1 ]; then
        $C -size 512x512 xc:none -fill none -stroke 'rgba(255,255,255,0.35)' -strokewidth 7 \
            -draw "circle 248,264 248,104" -draw "circle 248,264 248,164" \
            "$T/lg_body_mask.png" -alpha on -compose DstIn -composite "$T/lg_tracks_body.png"
        $C -size 512x512 xc:none -fill none -stroke 'rgba(255,255,255,0.40)' -strokewidth 7 \
            -draw "circle 264,248 264,88" -draw "circle 264,248 264,148" \
            "$T/lg_wedge_mask.png" -alpha on -compose DstIn -composite "$T/lg_tracks_wedge.png"
    else
        $C -size 512x512 xc:none "$T/lg_tracks_body.png"
        $C -size 512x512 xc:none "$T/lg_tracks_wedge.png"
    fi
    $C "$T/lg_body.png" "$T/lg_tracks_body.png" -composite "$T/lg_wedge.png" -composite \
        "$T/lg_tracks_wedge.png" -composite "$T/lg_rims.png" -composite "$T/lg_hub.png" -composite "$out"
}

draw_logo 9 1 "$T/logo_big.png"
draw_logo 22 1 "$T/logo_mid.png"
draw_logo 36 0 "$T/logo_small.png"

# Logo scaled to $1 pixels (box filter: the average of each source block).
logo_at() {
    local src=$T/logo_big.png
    if [ "$1" -le 20 ]; then src=$T/logo_small.png; elif [ "$1" -le 36 ]; then src=$T/logo_mid.png; fi
    $C "$src" -filter box -resize "$1x$1" "$2"
}

# ---------------------------------------------------------------------------
# The maker's mark: a rounded navy badge with a white "Q"; $1 size, $2 result.
maker_mark() {
    local s=$1 out=$2 k=8
    local big=$((s * k))
    $C -size ${big}x${big} xc:none \
        -fill "$NAVY" -draw "roundrectangle 0,0 $((big - 1)),$((big - 1)) $((big / 4)),$((big / 4))" \
        -fill "$ORANGE" -draw "rectangle $((big * 5 / 8)),$((big * 5 / 8)) $((big - 1)),$((big - 1))" \
        -fill "$NAVY" -draw "roundrectangle 0,0 $((big * 7 / 8)),$((big * 7 / 8)) $((big / 4)),$((big / 4))" \
        -font "$BOLD" -pointsize $((big * 3 / 4)) -fill white -gravity center -annotate +0-$((k / 2)) 'Q' \
        -filter box -resize ${s}x${s} "$out"
}

# ---------------------------------------------------------------------------
# page_logo.bmp (50 x 43): the product logo on white, with a soft shadow.
logo_at 40 "$T/logo40.png"
$C -size 50x43 xc:white \
    \( "$T/logo40.png" -background '#0B2A50' -shadow 30x1.2+1+1 \) -geometry +4+1 -composite \
    "$T/logo40.png" -geometry +5+1 -composite "$T/page_logo.png"
write_bmp "$T/page_logo.png" page_logo.bmp 50x43

# ---------------------------------------------------------------------------
# title_banner.bmp (260 x 27): the wordmark "Halcyra Creator".
$C -background none -fill "$NAVY" -font "$BOLD" -pointsize 22 label:'Halcyra' "$T/tb_a.png"
$C -background none -fill "$ORANGE" -font "$SANS" -pointsize 22 label:'Creator' "$T/tb_b.png"
$C "$T/tb_a.png" -size 6x1 xc:none "$T/tb_b.png" -background none +append "$T/tb_word.png"
$C -size 260x27 xc:white "$T/tb_word.png" -gravity west -geometry +1+0 -composite "$T/title_banner.png"
write_bmp "$T/title_banner.png" title_banner.bmp 260x27

# ---------------------------------------------------------------------------
# tagline.bmp (300 x 17): the suite's slogan, with orange separators.
tag_part() { $C -background none -fill "$2" -font "$OBLIQUE" -pointsize 12 label:"$1" "$3"; }
tag_part 'Partition' "$INK" "$T/tg1.png"
tag_part '•' "$ORANGE" "$T/tg_dot.png"
tag_part 'Back up' "$INK" "$T/tg2.png"
tag_part 'Recover' "$INK" "$T/tg3.png"
tag_part '— all in one suite' "$BLUE" "$T/tg4.png"
$C -size 5x1 xc:none "$T/tg_gap.png"
$C "$T/tg1.png" "$T/tg_gap.png" "$T/tg_dot.png" "$T/tg_gap.png" "$T/tg2.png" "$T/tg_gap.png" \
    "$T/tg_dot.png" "$T/tg_gap.png" "$T/tg3.png" "$T/tg_gap.png" "$T/tg4.png" \
    -background none +append "$T/tg_line.png"
$C -size 300x17 xc:white "$T/tg_line.png" -gravity west -geometry +1+0 -composite "$T/tagline.png"
write_bmp "$T/tagline.png" tagline.bmp 300x17

# ---------------------------------------------------------------------------
# home_link.bmp (136 x 16): the maker's mark and name, for the About box link.
maker_mark 14 "$T/mark14.png"
$C -background none -fill "$NAVY" -font "$BOLD" -pointsize 11 label:'Quorvane' "$T/hl_a.png"
$C -background none -fill "$INK" -font "$SANS" -pointsize 11 label:'Software' "$T/hl_b.png"
$C "$T/hl_a.png" -size 4x1 xc:none "$T/hl_b.png" -background none +append "$T/hl_word.png"
$C -size 136x16 xc:white "$T/mark14.png" -geometry +1+1 -composite \
    "$T/hl_word.png" -gravity west -geometry +19+0 -composite "$T/home_link.png"
write_bmp "$T/home_link.png" home_link.bmp 136x16

# ---------------------------------------------------------------------------
# help.bmp and help_pressed.bmp (28 x 29): a round blue button with a white
# question mark, drawn at 8 times the size and scaled down. Pressed: darker,
# lit from below, the mark one pixel lower and to the right, no drop shadow.
help_button() {
    local pressed=$1 out=$2 k=8
    local w=$((28 * k)) h=$((29 * k)) cx=$((14 * k)) cy=$((14 * k)) r=$((25 * k / 2))
    local grad shift=0 gloss=0.55
    if [ "$pressed" = 1 ]; then
        grad=("#0F4C96" "#3B86D6"); shift=$k; gloss=0.18
    else
        grad=("#7CC2FA" "#1656A8")
    fi
    $C -size ${w}x${h} xc:none "$T/hb_empty.png"
    # Drop shadow under the raised button; none when it is pressed in.
    if [ "$pressed" = 1 ]; then
        cp "$T/hb_empty.png" "$T/hb_shadow.png"
    else
        $C -size ${w}x${h} xc:none -fill 'rgba(20,40,70,0.35)' \
            -draw "circle $cx,$((cy + k)) $cx,$((cy + k - r))" -blur 0x$((k)) "$T/hb_shadow.png"
    fi
    $C -size ${w}x${h} gradient:"${grad[0]}"-"${grad[1]}" "$T/hb_grad.png"
    $C -size ${w}x${h} xc:black -fill white -draw "circle $cx,$cy $cx,$((cy - r))" "$T/hb_mask.png"
    fill_mask "$T/hb_grad.png" "$T/hb_mask.png" "$T/hb_body.png"
    # Rim, a gloss on the upper half, and the question mark.
    $C -size ${w}x${h} xc:none -fill none -stroke '#0B3468' -strokewidth $((k * 5 / 4)) \
        -draw "circle $cx,$cy $cx,$((cy - r + k / 2))" "$T/hb_rim.png"
    $C -size ${w}x${h} xc:none -fill "rgba(255,255,255,$gloss)" \
        -draw "ellipse $cx,$((cy - r / 2 + k / 2)) $((r * 3 / 4)),$((r * 9 / 20)) 0,360" \
        "$T/hb_mask.png" -alpha on -compose DstIn -composite "$T/hb_gloss.png"
    $C -size ${w}x${h} xc:none -font "$BOLD" -pointsize $((20 * k)) -gravity center \
        -fill 'rgba(0,30,70,0.45)' -annotate +$((shift + k / 2))+$((shift + k / 2 + k / 2)) '?' \
        -fill white -annotate +$shift+$((shift + k / 2)) '?' "$T/hb_mark.png"
    if [ "$pressed" = 1 ]; then
        # Inner shadow along the top edge: the face sits below the rim.
        $C -size ${w}x${h} xc:none -fill none -stroke 'rgba(0,20,50,0.55)' -strokewidth $((k * 2)) \
            -draw "arc $((cx - r + k)),$((cy - r + k)) $((cx + r - k)),$((cy + r - k)) 190,350" \
            -blur 0x$((k / 2)) "$T/hb_mask.png" -alpha on -compose DstIn -composite "$T/hb_inner.png"
    else
        cp "$T/hb_empty.png" "$T/hb_inner.png"
    fi
    $C -size ${w}x${h} xc:white "$T/hb_shadow.png" -composite "$T/hb_body.png" -composite \
        "$T/hb_inner.png" -composite "$T/hb_gloss.png" -composite "$T/hb_mark.png" -composite \
        "$T/hb_rim.png" -composite -filter box -resize 28x29\! "$out"
}
help_button 0 "$T/help.png"
help_button 1 "$T/help_pressed.png"
write_bmp "$T/help.png" help.bmp 28x29
write_bmp "$T/help_pressed.png" help_pressed.bmp 28x29

# ---------------------------------------------------------------------------
# Refresh button (33 x 27): a circular double arrow. The arrow is drawn at 8
# times the size as a mask; each state fills it with its own colours and lays
# it on its own button face.
# The geometry is computed here and handed over as convert arguments, one a line.
python3 - "$T/rf_shape.txt" <<'PY'
import math, sys
k = 8
cx, cy, r, half = 16.5 * k, 13.5 * k, 8.0 * k, 1.45 * k
out = []
for start, end in ((200.0, 325.0), (20.0, 145.0)):
    a0, a1 = math.radians(start), math.radians(end)
    # The arc as a filled band between two radii, with a round tail.
    steps = 24
    angles = [a0 + (a1 - a0) * i / steps for i in range(steps + 1)]
    ring = [(cx + (r + half) * math.cos(a), cy + (r + half) * math.sin(a)) for a in angles]
    ring += [(cx + (r - half) * math.cos(a), cy + (r - half) * math.sin(a)) for a in reversed(angles)]
    tail = (cx + r * math.cos(a0), cy + r * math.sin(a0))
    out += ["-stroke", "none", "-fill", "white",
            "-draw", "polygon " + " ".join("%.1f,%.1f" % p for p in ring),
            "-draw", "circle %.1f,%.1f %.1f,%.1f" % (tail + (tail[0] + half, tail[1]))]
    # Arrowhead: base across the arc at its end, tip ahead along the circle.
    wide = 2.5 * half
    tip_a = a1 + math.radians(30)
    b_in = (cx + (r - wide) * math.cos(a1), cy + (r - wide) * math.sin(a1))
    b_out = (cx + (r + wide) * math.cos(a1), cy + (r + wide) * math.sin(a1))
    tip = (cx + r * math.cos(tip_a), cy + r * math.sin(tip_a))
    out += ["-draw", "polygon %.1f,%.1f %.1f,%.1f %.1f,%.1f" % (b_in + b_out + tip)]
open(sys.argv[1], "w").write("\n".join(out) + "\n")
PY
RW=$((33 * 8)); RH=$((27 * 8))
mapfile -t RF_DRAW < "$T/rf_shape.txt"
$C -size ${RW}x${RH} xc:black "${RF_DRAW[@]}" "$T/rf_mask.png"
$C "$T/rf_mask.png" -morphology Dilate Disk:7 "$T/rf_mask_outline.png"

# Arrow in the colours $1 (top), $2 (bottom), outline $3, shifted by $4 pixels; result $5 (33 x 27).
refresh_arrow() {
    $C -size ${RW}x${RH} gradient:"$1"-"$2" "$T/rf_grad.png"
    fill_mask "$T/rf_grad.png" "$T/rf_mask.png" "$T/rf_fill.png"
    $C -size ${RW}x${RH} xc:"$3" "$T/rf_mask_outline.png" -alpha off -compose CopyOpacity -composite "$T/rf_line.png"
    $C "$T/rf_line.png" "$T/rf_fill.png" -composite -filter box -resize 33x27\! \
        -background none -gravity northwest -splice "$4x$4" -crop 33x27+0+0 +repage "$5"
}
refresh_arrow '#63D06A' '#1E8C2F' '#16662A' 0 "$T/rf_arrow.png"
refresh_arrow '#63D06A' '#1E8C2F' '#16662A' 1 "$T/rf_arrow_down.png"
refresh_arrow '#C4C8CC' '#9EA3A8' '#868B90' 0 "$T/rf_arrow_grey.png"

# Normal: the arrow on white.
$C -size 33x27 xc:white "$T/rf_arrow.png" -composite "$T/refresh.png"
# Hover: a light raised frame, white highlight top left, soft shade bottom right.
$C -size 33x27 xc:white -fill '#F3F7FB' -stroke '#B7C4D2' -draw "roundrectangle 0,0 32,26 3,3" \
    -stroke white -draw "line 2,1 30,1" -draw "line 1,2 1,24" \
    -stroke '#D5DEE8' -draw "line 2,25 30,25" -draw "line 31,2 31,24" \
    "$T/rf_arrow.png" -composite "$T/refresh_hover.png"
# Pressed: a sunken grey face, dark edges top left, light edges bottom right.
$C -size 33x27 xc:white -fill '#D9DCDF' -stroke '#8D949B' -draw "roundrectangle 0,0 32,26 3,3" \
    -stroke '#AEB3B8' -draw "line 2,1 30,1" -draw "line 1,2 1,24" \
    -stroke '#EEF0F2' -draw "line 2,25 30,25" -draw "line 31,2 31,24" \
    "$T/rf_arrow_down.png" -composite "$T/refresh_pressed.png"
# Disabled: the arrow in grey on white.
$C -size 33x27 xc:white "$T/rf_arrow_grey.png" -composite "$T/refresh_disabled.png"
for f in refresh refresh_hover refresh_pressed refresh_disabled; do
    write_bmp "$T/$f.png" $f.bmp 33x27
done

# ---------------------------------------------------------------------------
# Panel band (140 pixels high), drawn once 35 pixels wide and cut into the left
# end (15), the middle slice (5) and the right end (15). From the top: white,
# a thin grey edge, a short highlight gradient into the flat interior
# RGB(245,246,246), a grey edge, a dark grey shadow line, a soft shadow, white.
PANEL_FLAT='#F5F6F6'
PANEL_EDGE='#C5CACA'
PANEL_SHADOW='#858B8B'
PANEL_SOFT='#DCDFDF'
# Interior: the gradient rows under the top edge, then flat.
$C -size 35x140 xc:"$PANEL_FLAT" \
    -fill '#FFFFFF' -draw 'line 0,4 34,4' -fill '#FCFCFC' -draw 'line 0,5 34,5' \
    -fill '#FAFBFB' -draw 'line 0,6 34,6' -fill '#F8F9F9' -draw 'line 0,7 34,7' \
    -fill '#F7F8F8' -draw 'line 0,8 34,8' -fill '#F6F7F7' -draw 'line 0,9 34,9' \
    "$T/pn_interior.png"
$C -size 35x140 xc:black -fill white -draw 'roundrectangle 2,4 32,134 7,7' "$T/pn_mask.png"
fill_mask "$T/pn_interior.png" "$T/pn_mask.png" "$T/pn_inside.png"
$C -size 35x140 xc:white \
    -fill "$PANEL_SOFT" -draw 'roundrectangle 1,4 33,137 8,8' \
    -fill "$PANEL_SHADOW" -draw 'roundrectangle 1,3 33,136 8,8' \
    -fill "$PANEL_EDGE" -draw 'roundrectangle 1,3 33,135 8,8' \
    "$T/pn_inside.png" -composite "$T/panel.png"
$C "$T/panel.png" -crop 15x140+0+0 +repage "$T/panel_left.png"
$C "$T/panel.png" -crop 5x140+15+0 +repage "$T/panel_middle.png"
$C "$T/panel.png" -crop 15x140+20+0 +repage "$T/panel_right.png"
write_bmp "$T/panel_left.png" panel_left.bmp 15x140
write_bmp "$T/panel_middle.png" panel_middle.bmp 5x140
write_bmp "$T/panel_right.png" panel_right.bmp 15x140
# The middle slice is stretched to any width, so every column must be the same,
# and its flat rows must be exactly the panel brush colour.
if [ "$($C "$OUT/panel_middle.bmp" -crop 1x140+0+0 +repage -format '%#' info:)" != \
     "$($C "$OUT/panel_middle.bmp" -crop 1x140+4+0 +repage -format '%#' info:)" ] ||
   [ "$($C "$OUT/panel_middle.bmp" -crop 5x100+0+20 +repage -unique-colors -format '%w:%[pixel:p{0,0}]' info:)" != \
     "1:srgb(245,246,246)" ]; then
    echo "make_art: panel_middle.bmp is not a uniform slice of RGB(245,246,246)" >&2
    exit 1
fi

# ---------------------------------------------------------------------------
# suite_picture.bmp (412 x 96): the suite's main window in miniature: title
# bar, toolbar, operations list and two disks with their partition bars.
logo_at 11 "$T/logo11.png"
python3 - "$T/sp_args.txt" "$BOLD" "$COND" "$CONDBOLD" <<'PY'
import sys
out_path, bold, cond, condbold = sys.argv[1:5]
a = []
def draw(fill, prim, stroke="none", width=1):
    a.extend(["-fill", fill, "-stroke", stroke, "-strokewidth", str(width), "-draw", prim])
def text(x, y, s, font, size, fill):
    a.extend(["-stroke", "none", "-fill", fill, "-font", font, "-pointsize", str(size),
              "-gravity", "northwest", "-annotate", "+%d+%d" % (x, y), s])
def rect(x0, y0, x1, y1, fill):
    draw(fill, "rectangle %d,%d %d,%d" % (x0, y0, x1, y1))
def vline(x, y0, y1, colour):
    draw(colour, "line %d,%d %d,%d" % (x, y0, x, y1), colour)

# Toolbar: small coloured tiles with white glyphs.
def tile(x, y, colour, glyph):
    draw(colour, "roundrectangle %d,%d %d,%d 2,2" % (x, y, x + 10, y + 10))
    if glyph == "plus":
        rect(x + 5, y + 2, x + 5, y + 8, "white"); rect(x + 2, y + 5, x + 8, y + 5, "white")
    elif glyph == "resize":
        rect(x + 2, y + 5, x + 8, y + 5, "white")
        draw("white", "polygon %d,%d %d,%d %d,%d" % (x + 1, y + 5, x + 4, y + 2, x + 4, y + 8))
        draw("white", "polygon %d,%d %d,%d %d,%d" % (x + 9, y + 5, x + 6, y + 2, x + 6, y + 8))
    elif glyph == "cross":
        draw("none", "line %d,%d %d,%d" % (x + 3, y + 3, x + 7, y + 7), "white", 1.6)
        draw("none", "line %d,%d %d,%d" % (x + 7, y + 3, x + 3, y + 7), "white", 1.6)
    elif glyph == "down":
        rect(x + 4, y + 2, x + 6, y + 5, "white")
        draw("white", "polygon %d,%d %d,%d %d,%d" % (x + 2, y + 5, x + 8, y + 5, x + 5, y + 8))
    elif glyph == "copy":
        draw("none", "rectangle %d,%d %d,%d" % (x + 2, y + 2, x + 6, y + 6), "white")
        draw("white", "rectangle %d,%d %d,%d" % (x + 4, y + 4, x + 8, y + 8), "white")
    elif glyph == "check":
        draw("none", "polyline %d,%d %d,%d %d,%d" % (x + 2, y + 5, x + 4, y + 7, x + 8, y + 3), "white", 1.6)
for i, (colour, glyph) in enumerate([("#F08A12", "plus"), ("#1E63B0", "resize"), ("#D9473F", "cross"),
                                     ("#6D7C8E", "copy"), ("#2E9E40", "down"), ("#1E63B0", "check")]):
    tile(9 + i * 15 + (6 if i >= 4 else 0), 18, colour, glyph)
vline(99, 18, 28, "#C3CDD9")
text(110, 18, "Apply", condbold, 7.5, "#2B3A4C")

# Operations list on the left.
text(9, 32, "Operations", condbold, 7.5, "#1E4F86")
items = [("Create", "#F08A12"), ("Resize / Move", "#1E63B0"),
         ("Back up", "#2E9E40"), ("Recover", "#1FA39A")]
for i, (name, colour) in enumerate(items):
    y = 43 + i * 9
    if i == 1:
        rect(6, y - 1, 83, y + 7, "#CFE1F5")
    rect(10, y + 2, 13, y + 5, colour)
    text(17, y - 1, name, cond, 7, "#3C4550")

# Disks with their partitions: (left, right, strip colour, label, hatched).
def disk(y, name, size, parts, selected=None):
    text(90, y - 1, name, condbold, 7.5, "#2B3A4C")
    text(90, y + 8, size, cond, 7, "#6B7684")
    x0, x1 = 134, 398
    draw("#8C9BB0", "rectangle %d,%d %d,%d" % (x0 - 1, y - 1, x1 + 1, y + 18))
    for (l, r, colour, label, hatched) in parts:
        rect(l, y, r, y + 17, "#E4E8ED" if hatched else "#F5F8FC")
        if hatched:
            for d in range(l - 18, r + 1, 4):
                draw("none", "line %d,%d %d,%d" % (max(d, l), y + (max(d, l) - d),
                                                   min(d + 17, r), y + min(17, r - d)), "#C7CED7")
        else:
            rect(l, y, r, y + 3, colour)
        text(l + 3, y + 5, label, cond, 7, "#3C4550")
        if r < x1:
            vline(r + 1, y, y + 17, "#8C9BB0")
    if selected:
        l, r = selected
        draw("none", "rectangle %d,%d %d,%d" % (l, y, r, y + 17), "#23303F")
        draw("none", "rectangle %d,%d %d,%d" % (l + 1, y + 1, r - 1, y + 16), "#FFFFFF")

disk(34, "Disk 0", "232.9 GB",
     [(134, 151, "#6D7C8E", "", False), (153, 291, "#1E63B0", "C:  System  120 GB", False),
      (293, 372, "#1FA39A", "D:  Data  98 GB", False), (374, 398, "", "", True)])
disk(59, "Disk 1", "USB  3.7 GB",
     [(134, 231, "#F08A12", "Halcyra boot", False), (233, 398, "", "Unallocated", True)],
     selected=(134, 231))

open(out_path, "w").write("\n".join(a) + "\n")
PY
mapfile -t SP_DRAW < "$T/sp_args.txt"
$C -size 400x88 xc:black -fill white -draw 'roundrectangle 0,0 399,87 3,3' "$T/sp_win_mask.png"
$C -size 412x96 xc:none \( "$T/sp_win_mask.png" -background '#203040' -alpha copy -fill '#203040' \
    -colorize 100 -channel A -evaluate multiply 0.35 +channel -blur 0x2 \) -geometry +6+5 -composite \
    "$T/sp_shadow.png"
$C -size 398x14 gradient:'#1D5FA7'-'#123F74' -rotate -90 -resize 398x14\! "$T/sp_title_grad.png"
$C -size 412x96 xc:white "$T/sp_shadow.png" -composite \
    -fill '#FFFFFF' -stroke '#4F6A8A' -draw 'roundrectangle 4,2 403,89 3,3' -stroke none \
    \( "$T/sp_title_grad.png" \) -geometry +5+3 -composite \
    -fill '#4F6A8A' -draw 'point 4,2' -draw 'point 403,2' \
    "$T/logo11.png" -geometry +8+4 -composite \
    -font "$BOLD" -pointsize 8 -fill white -gravity northwest -annotate +23+4 'Halcyra' \
    -font "$SANS" -pointsize 8 -fill '#CFE2F7' -annotate +66+4 'Disk Management Suite' \
    -fill 'rgba(255,255,255,0.22)' -stroke 'rgba(255,255,255,0.55)' \
    -draw 'rectangle 368,5 377,13' -draw 'rectangle 380,5 389,13' \
    -fill '#D9473F' -stroke '#F2B5B0' -draw 'rectangle 392,5 401,13' -stroke white \
    -draw 'line 371,11 374,11' -draw 'rectangle 383,8 386,11' \
    -draw 'line 395,8 398,11' -draw 'line 398,8 395,11' -stroke none \
    -fill '#EEF2F7' -draw 'rectangle 5,17 402,30' -fill '#C9D3DF' -draw 'line 5,31 402,31' \
    -fill '#EAF1F9' -draw 'rectangle 5,32 84,80' -fill '#C9D3DF' -draw 'line 85,32 85,80' \
    -fill '#EEF2F7' -draw 'rectangle 5,81 402,88' -fill '#D3DCE6' -draw 'line 5,81 402,81' \
    -fill '#2E9E40' -draw 'rectangle 8,83 11,86' -fill '#AEB8C4' -draw 'rectangle 15,84 70,85' \
    "${SP_DRAW[@]}" "$T/suite_picture.png"
write_bmp "$T/suite_picture.png" suite_picture.bmp 412x96

# ---------------------------------------------------------------------------
# splash.bmp (499 x 147): deep blue field with faint disk tracks, the logo, the
# wordmark "Halcyra", "Creator", a line about the suite and the maker's name.
# The outermost 2 pixels of each side are cut off on screen, so nothing
# important lies there.
logo_at 112 "$T/logo112.png"
$C -size 147x499 gradient:'#1B5FA6'-'#0A2B55' -rotate -90 "$T/sp_bg_h.png"
$C -size 499x147 gradient:'rgba(255,255,255,0.10)'-'rgba(0,0,0,0.18)' "$T/sp_bg_v.png"
$C -size 499x147 xc:none -fill none -stroke 'rgba(255,255,255,0.07)' -strokewidth 10 \
    -draw 'circle 430,70 430,-30' -draw 'circle 430,70 430,10' -draw 'circle 430,70 430,45' \
    -stroke 'rgba(255,255,255,0.045)' -strokewidth 3 \
    -draw 'circle 430,70 430,-60' -draw 'circle 430,70 430,-10' -draw 'circle 430,70 430,28' \
    -stroke 'rgba(255,255,255,0.09)' -strokewidth 4 -draw 'circle 430,70 430,58' "$T/sp_rings.png"
$C "$T/logo112.png" -background '#000814' -shadow 55x3+2+3 "$T/sp_logo_shadow.png"
$C "$T/sp_bg_h.png" "$T/sp_bg_v.png" -composite "$T/sp_rings.png" -composite \
    "$T/sp_logo_shadow.png" -geometry +16+18 -composite "$T/logo112.png" -geometry +18+17 -composite \
    -font "$BOLD" -pointsize 52 -gravity northwest \
    -fill 'rgba(0,10,30,0.45)' -annotate +150+14 'Halcyra' -fill white -annotate +148+12 'Halcyra' \
    -font "$SANS" -pointsize 30 -fill "#FFA43A" -annotate +153+72 'Creator' \
    -fill 'rgba(255,255,255,0.35)' -draw 'rectangle 153,110 480,110' \
    -font "$SANS" -pointsize 11 -fill '#D6E6F7' -annotate +153+114 'USB boot media for the Halcyra disk-management suite' \
    -font "$SANS" -pointsize 9 -fill 'rgba(214,230,247,0.70)' -gravity southeast -annotate +12+6 'Quorvane Software' \
    -fill "$ORANGE" -draw 'rectangle 0,144 498,146' "$T/splash.png"
write_bmp "$T/splash.png" splash.bmp 499x147

# ---------------------------------------------------------------------------
# app.ico: the logo at 48, 32 and 16 pixels, each a 24-bit image with a 1-bit
# transparency mask. Half-covered edge pixels are kept, blended onto light grey
# so that they suit both light and dark captions.
for s in 48 32 16; do
    logo_at $s "$T/icon$s.png"
    $C "$T/icon$s.png" -channel A -threshold 50% +channel "$T/icon${s}_a.png"
    $C "$T/icon$s.png" -background '#C0C0C0' -alpha remove -alpha off -depth 8 "rgb:$T/icon$s.rgb"
    $C "$T/icon${s}_a.png" -alpha extract -depth 8 "gray:$T/icon$s.mask"
done
python3 - "$OUT/app.ico" "$T" <<'PY'
import struct, sys
out_path, tmp = sys.argv[1:3]
images = []
for size in (48, 32, 16):
    rgb = open("%s/icon%d.rgb" % (tmp, size), "rb").read()
    alpha = open("%s/icon%d.mask" % (tmp, size), "rb").read()
    assert len(rgb) == size * size * 3 and len(alpha) == size * size
    xor_rows, and_rows = [], []
    for y in reversed(range(size)):  # bottom-up rows
        row = bytearray()
        mask_row = bytearray((size + 31) // 32 * 4)
        for x in range(size):
            i = y * size + x
            if alpha[i] >= 128:
                r, g, b = rgb[3 * i:3 * i + 3]
                row += bytes((b, g, r))
            else:  # transparent: black colour, mask bit set
                row += b"\0\0\0"
                mask_row[x // 8] |= 0x80 >> (x % 8)
        row += b"\0" * (-len(row) % 4)
        xor_rows.append(bytes(row))
        and_rows.append(bytes(mask_row))
    pixels = b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    images.append((size, header + pixels))
data = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, blob in images:
    data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(blob), offset)
    offset += len(blob)
data += b"".join(blob for _, blob in images)
open(out_path, "wb").write(data)
PY

# ---------------------------------------------------------------------------
# Contact sheet for review: every image at twice its size, plus the panel as
# the drive selection page assembles it (left end, middle stretched, right end).
if [ -n "${ART_SHEET:-}" ]; then
    # One card: the image at 200 % in a thin frame, its name below. $1 image, $2 name, $3 result.
    card() {
        $C \( "$1" -background '#3A6EA5' -alpha remove -alpha off -scale 200% \
              -bordercolor '#9AA3AD' -border 1 \) \
           \( -background none -fill '#333333' -font "$SANS" -pointsize 12 label:"$2" \) \
           -background none -gravity center -append -bordercolor none -border 10 "$3"
    }
    $C "$OUT/panel_left.bmp" \( "$OUT/panel_middle.bmp" -scale 385x140\! \) "$OUT/panel_right.bmp" \
        +append "$T/sheet_panel.png"
    n=0
    row() {  # $1 result, then pairs of image and name
        local out=$1 cards=()
        shift
        while [ $# -gt 0 ]; do
            n=$((n + 1)); card "$1" "$2" "$T/card$n.png"; cards+=("$T/card$n.png"); shift 2
        done
        $C "${cards[@]}" -background none -gravity south +append "$out"
    }
    row "$T/row1.png" "$OUT/splash.bmp" splash.bmp "$OUT/suite_picture.bmp" suite_picture.bmp
    row "$T/row2.png" "$OUT/title_banner.bmp" title_banner.bmp "$OUT/tagline.bmp" tagline.bmp \
        "$OUT/home_link.bmp" home_link.bmp "$OUT/page_logo.bmp" page_logo.bmp
    row "$T/row3.png" "$OUT/help.bmp" help.bmp "$OUT/help_pressed.bmp" help_pressed.bmp \
        "$OUT/refresh.bmp" refresh.bmp "$OUT/refresh_hover.bmp" refresh_hover.bmp \
        "$OUT/refresh_pressed.bmp" refresh_pressed.bmp "$OUT/refresh_disabled.bmp" refresh_disabled.bmp \
        "$OUT/app.ico[0]" 'app.ico 48' "$OUT/app.ico[1]" 'app.ico 32' "$OUT/app.ico[2]" 'app.ico 16'
    row "$T/row4.png" "$OUT/panel_left.bmp" panel_left.bmp "$OUT/panel_middle.bmp" panel_middle.bmp \
        "$OUT/panel_right.bmp" panel_right.bmp "$T/sheet_panel.png" 'panel as the page draws it'
    $C "$T/row1.png" "$T/row2.png" "$T/row3.png" "$T/row4.png" -background '#E4E7EA' \
        -gravity northwest -append -bordercolor '#E4E7EA' -border 10 "$ART_SHEET"
fi

echo "make_art: done, written to $OUT"
