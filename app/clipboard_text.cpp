#include "app/clipboard_text.h"

namespace resicrypt {

ClipboardRebuild RebuildClipboardText(CipherWorkspace& workspace, const TextAlphabet& alphabet,
                                      std::string_view key, std::string_view text,
                                      CipherDirection direction, bool collectEcho) {
  const bool encrypt = direction == CipherDirection::kEncrypt;
  // The key is prepared once for all segments.
  const TextCipher cipher(workspace, alphabet, key);
  ClipboardRebuild result;
  // A first guess: long segments grow by at most 7/3 (three-character keys); short
  // ones grow more, each taking a whole cipher block. Decrypting only shrinks.
  result.text.reserve(encrypt ? text.size() / 3 * 7 + 64 : text.size());

  const std::size_t n = text.size();
  std::size_t segmentStart = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const char c = text[j];
    const bool lastPosition = j + 1 == n;
    if (c != '\t' && c != '\n' && c != '\r' && !lastPosition) {
      continue;  // c belongs to the current segment
    }
    const std::string_view segment = text.substr(segmentStart, j - segmentStart);
    if (encrypt && segment.size() >= 2 && !ComesBack(cipher, segment)) {
      result.kept.Add(0, segment);
      result.text += segment;
    } else if (segment.size() >= 2) {
      std::string r = encrypt ? cipher.Encrypt(segment) : cipher.Decrypt(segment);
      result.text += r;
      if (collectEcho) {
        if (!encrypt && lastPosition) {
          r.push_back(c);
        }
        result.echoLines.push_back(std::move(r));
      }
    } else {
      // One character (or none): never enciphered, so it survives both ways.
      result.text += segment;
    }
    result.text.push_back(c);
    segmentStart = j + 1;
  }
  return result;
}

}  // namespace resicrypt
