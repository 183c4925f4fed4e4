// The launcher's drawn look: pictures from the built-in PNG resources, window shapes cut out by
// alpha, the embedded fonts, and the skinned controls CPictureButton, CPNGPicture and
// CPictureEdit. The main dialog and the repair dialog use them.
#pragma once

#include <wx/bitmap.h>
#include <wx/bmpbndl.h>
#include <wx/control.h>
#include <wx/image.h>
#include <wx/region.h>
#include <wx/textctrl.h>

#include <optional>

namespace veldmoor {

// The skin's palette, drawn after the background picture: the dark ground, the bronze frame,
// gold for titles and fills, parchment for text.
inline const wxColour kSkinGround(22, 26, 24);
inline const wxColour kSkinFrame(150, 112, 58);
inline const wxColour kSkinGold(236, 196, 110);
inline const wxColour kSkinParchment(226, 214, 184);

// Device pixels per logical pixel of the screen (2 at GDK_SCALE=2). The toolkit already counts
// positions and sizes in logical pixels; only pictures need this many more pixels to stay sharp.
double DisplayScale();

// How much larger than at 96 dpi the desktop draws text (GDK_DPI_SCALE on GTK: 1.25 at 125 %).
// The skinned window is drawn in pixels at 96 dpi and grows by this factor, once, so its
// pictures keep pace with its texts.
double TextScale();

// The main window's background picture at 96 dpi, in pixels; the window is this size times the
// text scale. Other windows that should not outgrow it (message boxes) measure against it.
inline constexpr int kMainWindowDesignWidth = 770;
inline constexpr int kMainWindowDesignHeight = 454;

// Positions on the main window's background: in the dialog units its artwork is drawn in (1.5 x
// 1.625 pixels each at 96 dpi), scaled once by the text scale. Unlike the toolkit's dialog units
// they do not depend on a font, so every picture stays where the artwork expects it.
class SkinUnits {
public:
    explicit SkinUnits(double scale = TextScale()) : scale(scale) {}
    int X(double units) const;
    int Y(double units) const;
    wxPoint Point(double x, double y) const { return {X(x), Y(y)}; }
    wxSize Size(double w, double h) const { return {X(w), Y(h)}; }
    wxRect Rect(double x, double y, double w, double h) const { return {X(x), Y(y), X(w), Y(h)}; }
    // Pixels at 96 dpi, scaled.
    int Pixels(double pixels) const;
    double Scale() const { return scale; }

private:
    double scale;
};

// Decodes PNG resource `id` into `target` with its alpha kept, in logical pixels: without
// `size` at its size at 96 dpi times TextScale(), with one stretched to that size. Shapes and
// hit tests use this picture. A missing or undecodable resource leaves `target` invalid.
void LoadPngResource(int id, wxImage& target, std::optional<wxSize> size = std::nullopt);

// Picture `id` with its 1x and 2x sets, for the toolkit to pick per display (menu icons).
wxBitmapBundle PngBundle(int id);

// Picture `id` for drawing at `logicalSize`: from the set the bitmap bundle prefers at this
// display's scale, made exactly as many device pixels as the size covers there, and marked with
// the display's scale so that it is drawn at `logicalSize`. Invalid when the resource is missing.
wxBitmap LoadPngBitmap(int id, const wxSize& logicalSize);

// The region of a window of `windowSize` from which every fully transparent pixel of `image`
// is removed; pixels outside the image stay in. Used as a window shape.
wxRegion RegionFromAlpha(const wxSize& windowSize, const wxImage& image);

// True when the pixel at `point` of `image` is fully transparent (or outside the image).
bool IsTransparentAt(const wxImage& image, const wxPoint& point);

// Registers the embedded fonts (186 "Runeglyph_Solid", then 185 "Runeglyph_Hollow") with the
// process only. A font that cannot be registered is skipped; fonts asked for by these names
// then fall back to the system's substitute. Safe to call more than once.
void RegisterEmbeddedFonts();

// A font of one of the embedded families at `points` size, normal weight.
wxFont MakeSkinFont(const char* family, int points);

// Whatever paints the part of a background picture that lies under one of its controls; the
// skinned controls ask it so that their transparent pixels show the dialog's picture.
class BackgroundPainter {
public:
    virtual ~BackgroundPainter() = default;
    virtual void PaintBackgroundBehind(wxDC& dc, wxWindow& control) = 0;
};

// A push button drawn with four pictures (normal, pressed, hover, disabled). The window takes
// the size of the pressed picture; transparent pixels of the normal picture take no clicks.
// Clicking, or Space or Enter while it has the focus, sends the usual wxEVT_BUTTON with the
// button's id. Tab reaches it while it is enabled; with the focus it draws a focus mark.
class CPictureButton : public wxControl {
public:
    CPictureButton(int normalId, int pressedId, int hoverId, int disabledId);

    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& position,
                BackgroundPainter* background);

    bool IsHovered() const { return hover; }
    bool IsPressed() const { return pressed; }
    // The picture the button shows in its present state.
    const wxImage& CurrentImage() const;

    bool Enable(bool enable = true) override;
    bool AcceptsFocus() const override { return IsEnabled() && IsShown(); }
    bool AcceptsFocusFromKeyboard() const override { return AcceptsFocus(); }

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPaint(wxPaintEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void Click();
    void OnMouseEnter(wxMouseEvent& event);
    void OnMouseLeave(wxMouseEvent& event);
    void OnMouseMove(wxMouseEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void SetHover(bool value);

    const wxBitmap& CurrentBitmap() const;

    bool hover = false;
    bool pressed = false;
    wxImage pressedImage, normalImage, hoverImage, disabledImage;
    // The same pictures at the display's resolution, for drawing.
    wxBitmap pressedBitmap, normalBitmap, hoverBitmap, disabledBitmap;
    BackgroundPainter* background = nullptr;
};

// A static picture drawn from a PNG with alpha over the parent's background.
class CPNGPicture : public wxControl {
public:
    CPNGPicture() = default;

    // `image` is the picture, loaded by the owner with LoadPngResource.
    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& position, const wxImage& picture,
                BackgroundPainter* background = nullptr);
    // The picture of resource `pngId` at `size` (logical pixels), drawn at the display's
    // resolution.
    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& position, int pngId,
                const wxSize& size, BackgroundPainter* background = nullptr);

    wxImage image;
    wxBitmap bitmap;

    // A picture is no stop for Tab: the keyboard goes to the controls beside it.
    bool AcceptsFocus() const override { return false; }

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPaint(wxPaintEvent& event);
    BackgroundPainter* background = nullptr;
};

// The progress bar in the skin's colours: a dark track in a gold frame, filled in gold from the
// left. It answers as the toolkit's gauge does (SetRange, SetValue, GetValue).
class CSkinProgress : public wxControl {
public:
    CSkinProgress() = default;
    bool Create(wxWindow* parent, wxWindowID id, const wxRect& rect, int range);

    void SetRange(int value);
    int GetRange() const { return range; }
    void SetValue(int value);
    int GetValue() const { return value; }
    bool AcceptsFocus() const override { return false; }

private:
    void OnPaint(wxPaintEvent& event);
    int range = 100;
    int value = 0;
};

// The status box: a read-only multi-line text whose background blends into the picture below
// it, so the log reads as if written on the dialog.
class CPictureEdit : public wxTextCtrl {
public:
    CPictureEdit() = default;
    bool Create(wxWindow* parent, wxWindowID id, const wxRect& rect, const wxColour& background,
                const wxColour& text);
};

}  // namespace veldmoor
