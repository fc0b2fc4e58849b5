/* Character classes and case mapping (the kit's extension). The classes are
 * ASCII's, as in the "C" locale: bytes 128 to 255 belong to none of them and
 * map to themselves. Arguments are EOF or an unsigned char value; any other
 * value is in no class and maps to itself. */
#ifndef KIV_CTYPE_H
#define KIV_CTYPE_H

#ifdef __cplusplus
extern "C" {
#endif

/* The class bits of the library's table of the 256 bytes; g++'s C++
 * library builds its ctype facet's masks from them. */
#define _ISupper 0x0001
#define _ISlower 0x0002
#define _ISalpha 0x0004
#define _ISdigit 0x0008
#define _ISxdigit 0x0010
#define _ISspace 0x0020
#define _ISprint 0x0040
#define _ISgraph 0x0080
#define _ISblank 0x0100
#define _IScntrl 0x0200
#define _ISpunct 0x0400
#define _ISalnum 0x0800

int isalnum(int c);
int isalpha(int c);
int isblank(int c);
int iscntrl(int c);
int isdigit(int c);
int isgraph(int c);
int islower(int c);
int isprint(int c);
int ispunct(int c);
int isspace(int c);
int isupper(int c);
int isxdigit(int c);
int tolower(int c);
int toupper(int c);

#ifdef __cplusplus
}
#endif

#endif
