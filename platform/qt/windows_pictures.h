#pragma once
// The Windows picture formats the programs embed (BMP files and ICO icons with
// uncompressed images), decoded here: Qt would load its image-format plugins
// at start-up to read them.
#include <QImage>

#include <string_view>
#include <vector>

// Every image of an ICO file, or the one image of a BMP file, in file order.
// Empty when the data is neither, or holds a kind of image not read here
// (compressed or PNG images): the caller then asks Qt.
std::vector<QImage> decodeWindowsPicture(std::string_view data);
