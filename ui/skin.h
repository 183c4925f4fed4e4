// The launcher's drawn look: pictures from the built-in PNG resources, window shapes cut out by
// alpha, the embedded fonts, and the skinned controls CPictureButton, CPNGPicture and
// CPictureEdit. The main dialog and the repair dialog use them.
#pragma once

#include <wx/bitmap.h>
#include <wx/control.h>
#include <wx/image.h>
#include <wx/region.h>
#include <wx/textctrl.h>

#include <optional>

namespace veldmoor {

// Pixels per logical inch of the screen divided by 96: pictures are drawn for 96 dpi and
// scaled by this factor.
double DisplayScale();

// Decodes PNG resource `id` into `target` with its alpha kept. Without `size` the picture is
// scaled by DisplayScale() (truncated); with one, it is stretched to that size. A missing or
// undecodable resource leaves `target` invalid.
void LoadPngResource(int id, wxImage& target, std::optional<wxSize> size = std::nullopt);

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

    bool hover = false;
    bool pressed = false;
    wxImage pressedImage, normalImage, hoverImage, disabledImage;
    BackgroundPainter* background = nullptr;
};

// A static picture drawn from a PNG with alpha over the parent's background.
class CPNGPicture : public wxControl {
public:
    CPNGPicture() = default;

    // `image` is the picture, loaded by the owner with LoadPngResource.
    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& position, const wxImage& picture,
                BackgroundPainter* background = nullptr);

    wxImage image;

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPaint(wxPaintEvent& event);
    BackgroundPainter* background = nullptr;
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
