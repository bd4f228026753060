// The window application: the main frame with the pin view, or, with
// --render, one headless picture of the pin view.
#pragma once

#include <string>

class CVoGadrelView;

// Runs the pin view application; returns the process exit status.
int RunPinViewApplication(int argc, char** argv);

// Writes the package area of the view (RenderPicture) to `pngPath`, and to
// the matching .json file its tooltip regions in canvas pixels with the
// canvas pixel of the picture's top-left corner ("origin"). False with
// `error` set on failure.
bool WriteRender(CVoGadrelView& view, const std::string& pngPath, std::string& error);
// The .json half of WriteRender alone, without drawing (so without the
// picture's origin and size): the package name and the tooltip regions.
bool WriteRenderRegions(CVoGadrelView& view, const std::string& jsonPath, std::string& error);
