#pragma once

#include "TolvekArtwork.h"

// The PNG images in Resources/ (drawn by tools/artwork/make_artwork.py) are
// compiled in as binary data; the editor and its look and feel use them under
// these names. References, so nothing depends on static initialisation order.
inline const char* const& resource_keyGuiComponent_name_png = TolvekArtwork::name_png;
inline const int resource_keyGuiComponent_name_pngSize = TolvekArtwork::name_pngSize;

inline const char* const& resource_keyGuiComponent_quarm_png = TolvekArtwork::quarm_png;
inline const int resource_keyGuiComponent_quarm_pngSize = TolvekArtwork::quarm_pngSize;

inline const char* const& resource_keyGuiComponent_buttonOff_png = TolvekArtwork::buttonOff_png;
inline const int resource_keyGuiComponent_buttonOff_pngSize = TolvekArtwork::buttonOff_pngSize;

inline const char* const& resource_keyGuiComponent_buttonOn_png = TolvekArtwork::buttonOn_png;
inline const int resource_keyGuiComponent_buttonOn_pngSize = TolvekArtwork::buttonOn_pngSize;

inline const char* const& resource_keyGuiComponent_vsb_png = TolvekArtwork::vsb_png;
inline const int resource_keyGuiComponent_vsb_pngSize = TolvekArtwork::vsb_pngSize;
