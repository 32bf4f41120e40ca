// The text commands of the main window: the clipboard, memo and label commands.
//
// Each is the body of one click handler of TForm1 and works on the window only
// through the form port. They reach the cipher through one TextCipher per
// click (engine/text_cipher.h, the batch form of EncryptText and DecryptText), under
// the window's WorkingPassword, which they set from a password field first.
#pragma once

#include "app/form_port.h"

namespace resicrypt {

// "Encrypt  Clipboard" (Button4) and "Decrypt  Clipboard" (Button3): the clipboard
// text is cut into segments at TAB, LF and CR, each segment of two or more
// characters goes through the cipher, everything else is copied, and the new text
// replaces the clipboard's in one write.
void Button4Click(FormPort& form);
void Button3Click(FormPort& form);

// "Encrypt  Memo" (Button5) and "Decrypt  Memo" (Button6): every line of Memo1 is
// replaced by its cipher text or its plain text; Encrypt Memo enciphers at most
// 255 characters of a line.
void Button5Click(FormPort& form);
void Button6Click(FormPort& form);

// A click on the caption "Password1" (Label1) encrypts the text of Edit1 in place,
// one on "Password2" (Label2) decrypts it; the key is the text of Edit2.
void Label1Click(FormPort& form);
void Label2Click(FormPort& form);

}  // namespace resicrypt
