// Plain visual controls of a form: fonts, panels, labels and progress bars. The headless
// platform only keeps their settings; a windowing backend draws them. A control that a
// form has adopted tells the form's window when what it shows changes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/component.h"

namespace platform {

class Form;

struct Font {
    std::string Name = "Tahoma";
    int Height = -11;  // negative: character height in pixels
    bool Bold = false;
    std::uint32_t Color = 0;  // 0x00BBGGRR
};

inline constexpr std::uint32_t clBtnFace = 0xFF00000F;  // the system's button-face colour
inline constexpr std::uint32_t clBlack = 0x000000;
inline constexpr std::uint32_t clYellow = 0x00FFFF;

enum class Align { alNone, alTop, alBottom, alLeft, alRight, alClient };

class Control : public Component {
  public:
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    Align Alignment = Align::alNone;
    Control* Parent = nullptr;  // none: the form itself
    Font ControlFont;

  protected:
    // What the control shows changed: the form's window redraws it.
    void Changed();

  private:
    friend class Form;
    Form* form_ = nullptr;
};

class Panel : public Control {
  public:
    std::uint32_t Color = clBtnFace;
    std::uint32_t BorderColor = clBlack;
    int BorderWidth = 0;
    bool Lowered = false;  // outer border drawn lowered
    bool Rounded = false;
    bool Gradient = false;
};

class Label : public Control {
  public:
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption) {
        if (caption_ == caption) return;
        caption_ = caption;
        Changed();
        if (OnChange) OnChange(this);
    }
    bool Centered = false;
    NotifyEvent OnChange;  // the caption changed (a backend redraws)

  private:
    std::string caption_;
};

// A bar filled to a percentage; the derived control decides the percentage.
class ProgressBar : public Control {
  public:
    virtual int Percent() const = 0;
};

}  // namespace platform
