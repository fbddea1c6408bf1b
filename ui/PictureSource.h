#pragma once

class TBitmap;

// A child window of the main window whose picture the Save commands write: a picture window shows
// its picture, a film window the frame it shows at that moment.
class PictureSource {
public:
    virtual ~PictureSource() = default;

    // The picture to write; nullptr when the window shows none.
    virtual const TBitmap* SourcePicture() const = 0;
    // After Save as: true when the window takes the written file's name as its caption (a picture
    // window, whose later Save writes there again); false when the written file is opened in a new
    // picture window instead (a film window keeps its caption).
    virtual bool TakesSavedName() const = 0;
};
