// Reads small local text files whole: the first bytes decide the encoding (FF FE: UTF-16LE, EF BB BF:
// UTF-8, a non-zero byte then a zero byte: UTF-16LE without mark, else 8-bit text).
#pragma once

#include "Common/String.h"

#include <vector>

namespace Vexel
{

class TextReader
{
public:
    bool Open(const String& path);
    // Decodes bytes already in memory.
    void SetBytes(const std::vector<_byte>& bytes);
    // The characters up to the next carriage return or line feed; the line end is passed over.
    String ReadLine();
    // Everything from the current position to the end.
    String ReadRest();
    bool AtEnd() const { return mPosition >= mText.size(); }

private:
    String mText;
    std::size_t mPosition = 0;
};

} // namespace Vexel
