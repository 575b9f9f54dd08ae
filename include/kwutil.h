/*
 * kwutil.h -- the whole public interface of the kwutil library.
 *
 * kwutil is a library of small text and data utilities with a plain C
 * interface: an INI configuration engine, message catalogs formatted into
 * ASCII or EBCDIC, ASCII/EBCDIC translation tables, and general utilities
 * (offset-array sort and search, wildcard match, RDC block compression, a
 * reversible buffer scrambler, a pattern count, console line input).
 *
 * General rules, which every function below follows unless its own block
 * says otherwise:
 *
 *  - No hidden state. The library keeps no mutable global data and starts no
 *    threads; everything lives in records and buffers that the caller owns
 *    and passes in. Different records may be used from different threads at
 *    the same time; one record must not be used by two threads at once.
 *  - Nothing is thrown and nothing is logged: failures are result values.
 *  - Pointers are not checked for null unless the block says so, and output
 *    buffers of the original interface carry no length: sizing them is the
 *    caller's duty. Where a function has a bounded twin (a ...Snprintf or
 *    ...Bound name), the twin is the one to use for untrusted input.
 *  - Sizes, offsets, counts and line numbers are 16-bit: an INI text, a
 *    catalog file and an RDC block are each at most 65,535 bytes.
 *  - Memory beyond the caller's records comes from the caller's memory
 *    callbacks where given (KW_ALLOC_MEM / KW_FREE_MEM), else from malloc and
 *    free, and every block is given back with the size it was obtained with.
 *
 * This header is valid C99 and C++.
 */
#ifndef KWUTIL_H
#define KWUTIL_H

#include <stdarg.h>
#include <stdint.h>

#include "kwutil_version.h" /* KW_VERSION_MAJOR, _MINOR, _PATCH, _STRING */

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(KW_BUILDING_LIBRARY)
#    define KW_API __declspec(dllexport)
#  else
#    define KW_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) || defined(__clang__)
#  define KW_API __attribute__((visibility("default")))
#else
#  define KW_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================
 * Memory callbacks (shared by the INI engine and the catalog loader)
 * ====================================================================== */

/*
 * KW_ALLOC_MEM: obtain a block of at least Size bytes, store its address
 * through ppBuf and return 0; any other result is a failure. The INI engine
 * returns a failing result unchanged as its own status.
 * KW_FREE_MEM: give back a block, with the Size it was obtained with. The
 * result is ignored.
 * Both are called on the caller's thread, from inside library calls, and must
 * not call back into the library with the same record.
 */
typedef uint32_t (*KW_ALLOC_MEM)(uint16_t Size, unsigned char **ppBuf);
typedef uint32_t (*KW_FREE_MEM)(uint16_t Size, unsigned char *pBuf);

/* ======================================================================
 * INI engine
 * ======================================================================
 *
 * A configuration text is held in memory as a text buffer (every line a
 * zero-terminated byte string, the lines back to back) plus a line table.
 * Every line is classified when it enters the table:
 *
 *   first character ';' or the line end 0x0A      comment / empty line (1)
 *   '[' with a ']' after it, '<' with a '>'         section header      (2)
 *   any other line holding '='                      key line            (3)
 *   a line that begins with a space                 refused with 26
 *   anything else (also '[' without ']')            refused with 27
 *
 * The key is the bytes before the first '=', the value the bytes after it,
 * both exactly as stored (nothing is trimmed or unquoted).
 *
 * After every call that moves or changes the lines, the record's public
 * output fields describe the current line:
 *   linenum   number of the current line, from 1 (numlines + 1 at the end)
 *   linetype  KW_INI_LINE_* of the current line (INI_LINE_NONE at the end)
 *   pLine     the current line's text inside the text buffer
 *   pValue    for a key line, the byte just after its first '='; else NULL
 * pLine and pValue stay valid until the next edit (insert, delete, replace),
 * which may move the text, and until KW_ini_close.
 *
 * Thread-safety: one record must not be used by two threads at the same
 * time, reads included (a search moves the current line). Separate records
 * are independent.
 */

/* Line types (LINE_STRUC.type and KW_INI_STRUC.linetype). */
#define INI_LINE_NONE     0 /* no line: the position past the last line */
#define INI_LINE_COMMENT  1 /* comment (';') or empty line */
#define INI_LINE_SECTION  2 /* section header: [name] or <name> */
#define INI_LINE_KEY      3 /* key line: key=value */

/* Status codes of the INI family. A failing alloc_mem result is returned
 * unchanged (the default allocator fails with 1). */
#define INI_OK                 0  /* success; also "not found" for KW_ini_find */
#define INI_ERR_HANDLE        21  /* the record is not open */
#define INI_ERR_MODE          22  /* bad mode, or an edit/write on a read-only handle */
#define INI_ERR_NO_NAME       23  /* KW_ini_find without section and key */
#define INI_ERR_LEADING_SPACE 26  /* a line begins with a space */
#define INI_ERR_LINE          27  /* malformed line, bad line number, or no current line */
#define INI_ERR_NOT_KEY       28  /* KW_ini_tokenize on a line that is not a key line */
#define INI_ERR_WHERE         29  /* KW_ini_insert: WhereFlag is neither 0 nor 1 */
#define INI_ERR_TEXT_FULL     30  /* the text does not fit the handle */
#define INI_ERR_NO_FILE       31  /* KW_ini_write on a handle opened from a buffer */
#define INI_ERR_OPEN          32  /* the file could not be opened or read */
#define INI_ERR_REOPEN        34  /* KW_ini_write: the file could not be (re)opened */
#define INI_ERR_WRITE         35  /* KW_ini_write: writing the file failed */

/* Open modes. */
#define KW_INI_READ        1 /* read only; comment and empty lines of a file are dropped */
#define KW_INI_READWRITE   2 /* read and write; every line is kept */
#define KW_INI_COMMON  0x100 /* OR'ed into either mode: the common dialect (see Dialects) */

/* UnicodeFlag values for KW_ini_open (see there). */
#define KW_INI_8BIT        0 /* one byte per character */
#define KW_INI_UTF16_LE    1 /* 16-bit characters, low byte first */
#define KW_INI_UTF16_BE    2 /* 16-bit characters, high byte first */

/* Limits of one handle. */
#define KW_INI_MAX_LINES    4095u  /* lines in the line table */
#define KW_INI_MAX_TEXT    57344u  /* bytes of a text buffer the engine grows */
#define KW_INI_MAX_LINE      255u  /* bytes of one line read from a file or inserted */

/*
 * The caller's INI handle. Allocate one per open text (zero-filling it is a
 * good habit), set the memory callbacks (or leave alloc_mem NULL for malloc
 * and free) and, to open from memory, pBuf, bufsize and usesize. The first
 * 80 bytes are private to the engine; leave them alone. The record's size
 * and field offsets are fixed for each pointer width.
 */
typedef struct KW_INI_STRUC {
    unsigned char _[80];               /* private: exactly 80 bytes on every host */
    KW_ALLOC_MEM alloc_mem;            /* in: allocator, or NULL for the defaults */
    KW_FREE_MEM free_mem;              /* in: release callback paired with alloc_mem */
    unsigned char *pBuf;               /* in: caller's text when opening from memory */
    uint16_t bufsize;                  /* in: capacity of pBuf in bytes */
    uint16_t usesize;                  /* in: bytes of pBuf in use, last zero included */
    uint16_t linenum;                  /* out: current line number, from 1 */
    uint8_t linetype;                  /* out: INI_LINE_* of the current line */
    uint8_t __;                        /* reserved; written as 0 */
    unsigned char *pLine;              /* out: current line's text */
    unsigned char *pValue;             /* out: a key line's value, else NULL */
} KW_INI_STRUC;

/*
 * Dialects. A handle reads its text in one of two dialects, chosen at
 * KW_ini_open and kept for the life of the handle; every INI call follows it.
 *
 * The classic dialect (the default) is the one described above: a line is
 * read 255 bytes at a time, a line that begins with a space is refused with
 * 26, a line that is neither comment, header nor key is refused with 27, and
 * names and values are exactly the bytes around the first '='.
 *
 * The common dialect (mode | KW_INI_COMMON) reads the files real programs
 * write (unit files, desktop entries, git configs, Windows INI files). A
 * blank is a space or a tab; the line end is LF or CR LF. Never refused:
 *   - Line 1 (the line at the start of the text) may begin with a UTF-8
 *     byte-order mark EF BB BF: it is passed over when the line is
 *     classified and searched, and stays in the text. A line put before it
 *     by an edit leaves the mark inside line 2, where it is ordinary text.
 *   - Comment (1): the first byte that is not a blank is ';' or '#'.
 *     Empty (1): nothing but blanks and the line end (or nothing at all).
 *     In mode 1 both are dropped from a file, as classic comments are.
 *   - Section header (2): blanks, then '[' with a ']' after it, or '<' with
 *     a '>' after it. The name is what stands between the opening bracket
 *     and the first closing one, untrimmed (git's [remote "origin"] is
 *     'remote "origin"' with its quotes). A bracket line without its closing
 *     bracket ("[a=b") is not a header and, opening with a bracket, never a
 *     key: it is a comment line (1).
 *   - Key line (3): any other line holding '=', unless it is a continuation
 *     (below). The name is the bytes before the first '=' without leading and
 *     trailing blanks; the value starts after the '=' and the blanks that
 *     follow it and ends before trailing blanks and the line end.
 *     LINE_STRUC.keylen is the offset of that '=' from the line start.
 *   - Continuation: a line indented deeper (more leading blanks, a tab
 *     counting one) than the key line before it, when that key line is the
 *     last header or key line above it, is kept verbatim as a comment line
 *     (1): another dialect would join it to the value; here a key's value is
 *     its own line. Comment, empty and other kept lines between them do not
 *     end the key's reach. Edits reclassify the lines after the edited one
 *     that this rule concerns, so the table always says what a fresh open of
 *     the same text would say.
 *   - Any other line (no '=', no comment, no header, also a CR alone) is
 *     kept verbatim as a comment line (1).
 * A line from a file is read whole, however long (up to the text limit),
 * and classified once; a zero byte inside it still ends the stored line.
 * keylen saturates at 255 as in the classic dialect. pValue points at the
 * value's first byte (after '=' and its blanks); KW_ini_value gives its
 * length without trailing blanks and line end, and KW_ini_tokenize stops
 * there and trims blanks around each token. KW_ini_find compares the trimmed
 * key names and the header names found after the header's blanks, with the
 * same case folding and wildcards. KW_ini_insert and KW_ini_replace accept a
 * line of any length up to the text limit and classify it by these rules in
 * its place. The limits (4,095 lines, 57,344 bytes) and the write (every
 * untouched line byte for byte) are those of the classic dialect. The
 * common dialect reads and compares bytes: with a nonzero UnicodeFlag only
 * the tokenizer reads 16-bit characters (and trims 16-bit blanks).
 */

/*
 * KW_ini_open() : load a configuration text into pIni.
 *
 * Filename  path of the file to load, or NULL to take the text from the
 *           caller's pBuf: usesize bytes of zero-terminated lines back to
 *           back (every zero-terminated string is one line, the last zero is
 *           counted in usesize), in a block of bufsize bytes. The caller keeps
 *           ownership of pBuf; edits work in it in place (see KW_ini_insert).
 * mode      KW_INI_READ (1) or KW_INI_READWRITE (2), either one OR'ed with
 *           KW_INI_COMMON for the common dialect (see Dialects; what follows
 *           here describes the classic one). From a file, mode 1
 *           drops comment and empty lines and closes the file at once; mode 2
 *           keeps every line and holds the file open for KW_ini_write. A text
 *           from pBuf keeps every line in both modes and is never a file.
 * UnicodeFlag  0: 8-bit characters. Nonzero: the first character of a line
 *           and the tokenizer's characters are 16-bit values read from two
 *           bytes; KW_INI_UTF16_BE (2) reads them high byte first, any other
 *           nonzero value low byte first. Lines are still stored, measured
 *           and searched as zero-terminated byte strings.
 *
 * Files are read in text mode: a line is read 255 bytes at a time, so a
 * longer line is stored as several lines, each classified by itself; a zero
 * byte inside a line ends the stored line there. On Windows the runtime's
 * text mode delivers each CR LF as the single line end 0x0A (the 255 bytes
 * are counted after that) and takes a byte 0x1A (Ctrl+Z) as the end of the
 * file; on POSIX hosts the bytes arrive as they are, so a CR before the line
 * end stays part of the line (and a line holding only CR LF is refused with
 * 27, as any line that is neither comment, section nor key).
 *
 * Memory: alloc_mem is asked for exactly these sizes and no others, in every
 * mode and from a file or a buffer alike, so that a caller may serve them
 * from fixed pools: 16,384 bytes for the line table (4,095 lines and the end
 * entry), 8,192 bytes for a first text buffer (not for a caller's buffer),
 * and the old size plus 8,192 bytes for each growth, up to 57,344 bytes. No
 * name of the file is kept: KW_ini_write asks the held file where it is.
 *
 * @return 0: the record is open, line 1 is current (an empty text shows the
 *         end position: linenum 1, linetype 0, pValue NULL).
 *   22 INI_ERR_MODE       mode, without KW_INI_COMMON, is neither 1 nor 2
 *                         (any other bit set is refused too).
 *   32 INI_ERR_OPEN       the file could not be opened, or a read error
 *                         happened before its end (no partial text is ever
 *                         presented as whole); also Filename and pBuf NULL.
 *   30 INI_ERR_TEXT_FULL  the text, one zero per line included, needs more
 *                         than 57,344 bytes (more than bufsize for a caller's
 *                         buffer, that is usesize > bufsize), or holds more
 *                         than 4,095 lines.
 *   26, 27                a line failed classification, or a caller's line
 *                         is empty or lacks its terminating zero within
 *                         usesize. linenum then gives that line's number among
 *                         the stored lines; pLine points at it for a caller's
 *                         buffer and is NULL after a load from a file.
 *   other                 the failing result of alloc_mem.
 * On every failure the record is not open, every block obtained has been
 * given back, and, except after 26 and 27, linenum is 0 and pLine and pValue
 * are NULL. An open record is simply overwritten: close it first, or its
 * blocks are lost.
 */
KW_API uint32_t KW_ini_open(KW_INI_STRUC *pIni, const char *Filename, int32_t mode, uint8_t UnicodeFlag);

/*
 * KW_ini_close() : end the use of an open record.
 *
 * Closes the file held in mode 2, gives back every block the engine obtained
 * (the line table, the text buffer when it is the engine's, never the
 * caller's pBuf) with the sizes they were obtained with, and clears the
 * signature. The public fields pLine and pValue are set to NULL; pBuf,
 * bufsize and usesize are untouched.
 * @return 0, or 21 INI_ERR_HANDLE when the record is not open (never opened,
 *         failed to open, or already closed: a second close is harmless).
 */
KW_API uint32_t KW_ini_close(KW_INI_STRUC *pIni);

/*
 * KW_ini_next() : move to the following line. From the last line it reaches
 * the end position (linetype 0, linenum numlines + 1); at the end position
 * nothing changes.
 * @return 0, or 21 INI_ERR_HANDLE.
 */
KW_API uint32_t KW_ini_next(KW_INI_STRUC *pIni);

/*
 * KW_ini_goto() : make line nth_line (from 1) current.
 * @return 0; 21 INI_ERR_HANDLE; 27 INI_ERR_LINE when nth_line is 0 or greater
 *         than the number of lines (the current line does not move; the end
 *         position cannot be reached this way).
 */
KW_API uint32_t KW_ini_goto(KW_INI_STRUC *pIni, uint16_t nth_line);

/*
 * KW_ini_find() : search forward from the current line (itself included)
 * for a section, a key in a section, or a key in the current section.
 *
 * Section  section-name pattern, or NULL: then the keys from the current line
 *          up to the next section header are searched.
 * Key      key-name pattern, or NULL: then the section header is the target.
 * pFound   receives 1 when a line was found, else 0 (not written on 21, 23).
 *
 * Names are compared case-blind (the letters a to z are folded; other bytes
 * compare exactly) with the wildcard rule of KW_strcmp_wildcards: '?' is one
 * character, a '*' ends the comparison. Wildcards count in the patterns only.
 * A section name is what stands between its opening bracket and the first
 * closing bracket; a key name is everything before the first '='. Neither is
 * trimmed: '[ Net ]' is " NET ", and 'Port = 5' has the key "PORT " (in the
 * common dialect the key is "PORT" and an indented header is found; see
 * Dialects). Only the
 * first matching section at or after the current line is searched.
 * Patterns and names of any length are compared in full: nothing is cut at
 * 255 bytes and no length is refused. Neither pattern is changed. The search
 * allocates nothing.
 *
 * The search stops, with the stop line current:
 *   Key NULL, section found           1, the section header
 *   key found                         1, the key line
 *   Section given, no matching header 0, the end position
 *   section found, key not in it      0, the next section header or the end
 *   Section NULL, key not found       0, the next section header (the current
 *                                        line itself when it is one) or the end
 * @return 0 (found or not); 21 INI_ERR_HANDLE; 23 INI_ERR_NO_NAME when Section
 *         and Key are both NULL. On 21 and 23 nothing moves.
 */
KW_API uint32_t KW_ini_find(KW_INI_STRUC *pIni, const unsigned char *Section, const unsigned char *Key, unsigned char *pFound);

/*
 * KW_ini_value() : the current key line's value, as pointer and length.
 *
 * ppValue  receives pValue: the byte after the first '=' (common dialect:
 *          after the '=' and the blanks that follow it). May be NULL.
 * pLen     receives the value's length in bytes without the line end (LF;
 *          in the common dialect LF or CR LF) and, in the common dialect,
 *          without trailing blanks (space, tab). May be NULL.
 * The value is not zero-terminated at that length: it points into the text
 * buffer and is valid until the next edit or KW_ini_close, like pLine. Both
 * are counted in bytes whatever the UnicodeFlag. Nothing in the handle
 * changes; on a failure nothing is written.
 * @return 0; 21 INI_ERR_HANDLE when the record is not open; 27 INI_ERR_LINE
 *         at the end position (no current line); 28 INI_ERR_NOT_KEY when the
 *         current line is not a key line.
 * Thread-safety: as every INI call (it only reads the handle).
 */
KW_API uint32_t KW_ini_value(KW_INI_STRUC *pIni, const unsigned char **ppValue, uint16_t *pLen);

/* Editing, writing back and tokenizing.
 *
 * The three edits work at the current line of a handle opened with mode 2
 * and keep text, line table and current line in step: navigation, search,
 * tokenizing and writing see the new text at once. Every check that can
 * refuse an edit runs before anything changes, so a refused edit leaves the
 * handle exactly as it was. pLine and pValue from before a successful edit
 * are no longer valid after it. */

/*
 * KW_ini_insert() : add a line before or after the current line.
 *
 * Textline   the new line, zero-terminated, at most 255 bytes. It is stored
 *            byte for byte, nothing added: a line meant to stand on its own
 *            in the written file ends with its line end (0x0A); one without
 *            runs into the following line on disk. It may point into the
 *            handle's own text (pLine, say): it is copied before anything
 *            moves.
 * WhereFlag  0: before the current line (at the end position: after the last
 *            line); 1: after the current line.
 *
 * On success the new line is current, whichever WhereFlag, and the lines
 * behind it are numbered one higher.
 *
 * Room. The new line and its zero go into the free bytes after the text.
 * When they do not fit, the text buffer grows once, by exactly 8,192 bytes:
 * a block of the old size + 8,192 through alloc_mem, the text copied, the
 * rest zeroed, and the old block given back through free_mem with its size.
 * The grown size must stay within 65,535 bytes, so a buffer the engine
 * started at 8,192 bytes stops at 57,344.
 *
 * A caller's buffer (opened with Filename NULL) is edited in place while the
 * text fits in bufsize bytes. The first insert or replace that needs more
 * moves the text, for good, into a block of bufsize + 8,192 bytes (only while
 * that stays within 65,535) obtained through alloc_mem. The caller's buffer
 * keeps the bytes it held at that moment; the engine never reads, writes or
 * gives it back again, so the caller may reuse it, and bytes past bufsize are
 * never touched at any time. pBuf, bufsize and usesize do not change (so
 * KW_ini_write still answers 31). The caller learns of the move from pLine:
 * whenever a line is current (linetype not 0, as after every successful
 * insert or replace), pLine points into [pBuf, pBuf + bufsize) exactly as
 * long as the text is still in the caller's buffer. KW_ini_close gives back
 * the engine's block, never pBuf.
 *
 * @return 0 on success. Otherwise nothing has changed; checked in this order:
 *   21 INI_ERR_HANDLE      the record is not open.
 *   22 INI_ERR_MODE        the handle was opened with mode 1 (read only).
 *   29 INI_ERR_WHERE       WhereFlag is neither 0 nor 1.
 *   27 INI_ERR_LINE        WhereFlag 1 at the end position: nothing follows it.
 *   30 INI_ERR_TEXT_FULL   Textline is longer than 255 bytes (it is read no
 *                          further than its 256th byte): it does not fit a line.
 *   26 INI_ERR_LEADING_SPACE  Textline begins with a space.
 *   27 INI_ERR_LINE        Textline is malformed: '[' or '<' without its
 *                          closing bracket, or another line without '=' that
 *                          is no comment or empty line (an empty Textline too).
 *   30 INI_ERR_TEXT_FULL   the line table already holds 4,095 lines, or the
 *                          line does not fit and the buffer cannot grow within
 *                          65,535 bytes.
 *   other                  the failing result of alloc_mem, unchanged.
 *
 * Common dialect (see Dialects): Textline may be up to 57,343 bytes (longer
 * gives 30, read no further), is never refused for its content (no 26 or
 * 27), and is classified in its place; the lines after it that the
 * continuation rule concerns are classified again. The buffer grows in as
 * many 8,192-byte steps as the line needs; whether they fit within 65,535
 * bytes is settled first (30, nothing changed), while an alloc_mem failure
 * part way leaves a larger buffer with the same text. A Textline that points
 * into the handle's own text (pLine, pValue, another line) may be of any
 * length: it is moved into place within the text buffer, and nothing beyond
 * the text's growths is asked of alloc_mem.
 */
KW_API uint32_t KW_ini_insert(KW_INI_STRUC *pIni, const unsigned char *Textline, unsigned char WhereFlag);

/*
 * KW_ini_delete() : remove the current line.
 *
 * The following line becomes current under the deleted line's number (the
 * end position when the last line was deleted), and the lines behind are
 * numbered one lower. The bytes freed at the end of the text are cleared to
 * zero (in a caller's buffer as well, within bufsize). The buffer never
 * shrinks; no memory is obtained or given back.
 * @return 0; 21 INI_ERR_HANDLE; 22 INI_ERR_MODE (mode 1); 27 INI_ERR_LINE at
 *         the end position (no current line). Nothing changes on a failure.
 */
KW_API uint32_t KW_ini_delete(KW_INI_STRUC *pIni);

/*
 * KW_ini_replace() : put Textline in the place of the current line.
 *
 * The new line keeps the old line's number and becomes current; its type and
 * key length come from its own text (a key line may become a comment).
 * Textline is taken as by KW_ini_insert. The new line is checked in full
 * (length, classification, room, memory) before the old one goes, so a
 * failed replace changes nothing and the old line stays. The old line's
 * bytes count as free: a new line that fits in them plus the free bytes
 * needs no growth; otherwise the text grows as for KW_ini_insert, and a
 * caller's buffer may move out in the same way.
 * @return 0 on success. Otherwise nothing has changed; checked in this order:
 *   21 INI_ERR_HANDLE, 22 INI_ERR_MODE; 27 INI_ERR_LINE at the end position;
 *   30 INI_ERR_TEXT_FULL for a Textline longer than 255 bytes; 26 or 27 when
 *   Textline fails classification; 30 when it does not fit and the buffer
 *   cannot grow within 65,535 bytes; or the failing result of alloc_mem.
 */
KW_API uint32_t KW_ini_replace(KW_INI_STRUC *pIni, const unsigned char *Textline);

/*
 * KW_ini_write() : write the lines back to the file they were loaded from.
 *
 * The file's new content is the stored lines in order, each exactly as
 * stored up to its zero: no separator, no line end where a line has none, no
 * byte-order mark. A file opened with mode 2 and written without edits thus
 * keeps its bytes, as long as it holds no zero byte and its line ends are
 * the host's. The file is written in text mode: on Windows every 0x0A goes
 * to disk as CR LF; on POSIX hosts the bytes go as they are.
 *
 * The file is the one the held stream holds, wherever it is now: a change of
 * working folder or a rename since the open does not matter, and a file
 * reached through a symbolic link stays a link whose target gets the new
 * content. A file removed since the open is not written (34).
 *
 * A regular file is replaced where a replacement keeps what the file is: the
 * lines go to a new file in the same folder (the file's name plus ".tmp-"
 * and six characters), made durable, which then takes the file's place in
 * one step. A reader, and a crash at any moment, finds the old content or
 * the new one, never an empty or half written file; a crash may leave the
 * new file behind under its temporary name. The new file has the old one's
 * owner, group, permission bits, access lists and the extended attributes
 * the process can read, or it is not used. Afterwards the new file is held
 * open for reading and writing ("r+").
 *
 * In place: the file is rewritten where it stands, through the held stream,
 * when a replacement would change what it is or cannot be made:
 *   - a device, FIFO or socket is never replaced: the lines are written into
 *     it from its start and flushed (a device that cannot sync is no
 *     failure), and it is not cut;
 *   - a regular file with more than one hard link; one whose owner, group,
 *     permission bits or extended attributes a new file of this process
 *     cannot carry; one in a folder that refuses a new file; one whose path
 *     the host cannot tell. Room for the new text is reserved first, then
 *     the lines are written over the old content from the start, flushed,
 *     the file is cut where the new text ends and made durable. Owner,
 *     group, access lists, extended attributes and every link stay.
 * The held stream stays held in both cases. While the rewrite runs a reader
 * can see a mix of old and new. A failure at the reservation (full disk,
 * quota, file size limit) leaves the file as it was. A failure after it (an
 * I/O error, or a file system that allocates anew on every write) leaves the
 * file incomplete: the start of the new text, then what is left of the old
 * content (on Windows possibly zero bytes up to the new length); a later
 * write writes every line again from the start.
 * How each host finds the file, replaces it and reserves room:
 * docs/platforms.md, "Files and line ends".
 *
 * No memory is obtained. The position, the lines and the published current
 * line are the same after the call as before it, whatever the result.
 *
 * @return 0: written, and the file (the new one after a replacement) is held.
 *   21 INI_ERR_HANDLE  the record is not open, also after KW_ini_close: the
 *                      close ends the record's use, its file included.
 *   22 INI_ERR_MODE    the handle was opened with mode 1. File untouched.
 *   31 INI_ERR_NO_FILE the handle was opened from a caller's buffer (pBuf is
 *                      not NULL), also after its text moved out of it.
 *   34 INI_ERR_REOPEN  - no file is held (an earlier reopen failed);
 *                      - the held file has been removed since the open, or
 *                        the host cannot describe it: nothing is written,
 *                        and it is still held;
 *                      - the file may no longer be written (made read only
 *                        since the open): it is left alone, although the
 *                        held stream or its folder would allow a write, and
 *                        is still held;
 *                      - the new file could not be created beside the old
 *                        one for another reason than permission (no room for
 *                        a new entry, name too long): the file is untouched
 *                        and still held;
 *                      - everything was written but the new file could not
 *                        be opened again: the new content is in place, no
 *                        file is held, and every later write returns 34.
 *   35 INI_ERR_WRITE   a line could not be written, or the flush, the
 *                      reservation, the cut or the sync to disk failed (a full
 *                      disk shows here, never as 0), or the new file could not
 *                      take the old one's place. Replacing: the file is
 *                      untouched, the temporary file removed, and the file
 *                      held as before (should it then fail to open again,
 *                      none is held and later writes return 34). In place:
 *                      as told above, and the file is still held.
 * The lines in memory are intact after every failure.
 * Thread-safety: as for every INI call. The file is not locked: of two
 * handles that write the same file, the last write wins.
 */
KW_API uint32_t KW_ini_write(KW_INI_STRUC *pIni);

/*
 * KW_ini_tokenize() : split the current key line's value at its commas.
 *
 * The value runs from the byte after the line's first '=' to the line end
 * (0x0A) or the line's zero, whichever comes first; neither belongs to a
 * token. Every comma ends a token, and nothing else is special: spaces stay,
 * double quotes protect nothing, nothing is trimmed. The tokens go to
 * pBuffer one after another, each followed by a zero unit, so a value with n
 * commas gives n + 1 tokens, empty ones included (an empty value gives one
 * empty token). Every other character is replaced by the handle's
 * translation-table entry for its low 8 bits (KW_xlate_dummy, the identity,
 * after every open).
 *
 * flags       bit 0 set: 16-bit output units, each the character byte beside
 *             a zero byte: the zero byte first for a handle opened with
 *             KW_INI_UTF16_BE, else the character byte first. The other bits
 *             are not read.
 * pNumTokens  receives the number of tokens.
 * pTotalSize  receives the number of units written, zeros included (bytes for
 *             8-bit output; the byte count of 16-bit output is twice that).
 * pBuffer has no length: give room for the value's length plus one unit. For
 * a line of at most 255 bytes, 255 bytes (8-bit output) or 510 bytes (16-bit
 * output) always suffice.
 *
 * 16-bit text (opened with a nonzero UnicodeFlag): the value is read two
 * bytes at a time from the byte after the first 0x3D byte, each pair one
 * character in the handle's byte order, and reduced to its low 8 bits through
 * the table. The scan stops at a character 0 or 0x000A, and at the line's
 * terminating zero: a character may take that zero as its second byte, never
 * a byte beyond it. As lines are stored as zero-terminated byte strings, a
 * 16-bit text is cut into lines at every zero byte; 16-bit text is therefore
 * carried only as far as characters without a zero byte, and a 16-bit comma
 * or line end, low byte first, counts only as a line's last character (its
 * high byte being the line's zero).
 *
 * Works in both modes and changes nothing in the handle.
 * @return 0; 21 INI_ERR_HANDLE; 27 INI_ERR_LINE at the end position; 28
 *         INI_ERR_NOT_KEY on a comment, empty or section line. On a failure
 *         neither pBuffer nor the two counts are written.
 */
KW_API uint32_t KW_ini_tokenize(KW_INI_STRUC *pIni, unsigned char *pBuffer, unsigned char flags, uint16_t *pNumTokens, uint16_t *pTotalSize);

/* ======================================================================
 * Message catalogs
 * ====================================================================== */

/*
 * A message catalog holds the numbered message texts of one application. It
 * is loaded once (KW_MsgOpen) into a caller's 32-byte handle, formatted any
 * number of times (KW_MsgSprintf, KW_MsgVSprintf, KW_MsgRSprintf and their
 * bounded twins) and closed once (KW_MsgClose).
 *
 * Catalog file (also the layout of a catalog built into an application),
 * at most 65,535 bytes, three sections without gaps:
 *
 *   offset  length     content
 *   0       32         header
 *   32      arraysize  offset array: num_msgs entries of 2 bytes, big-endian
 *   32+arraysize  txtsize  text area: the texts, each ending with a zero byte
 *
 *   header  offset width field
 *           0      4     signature: four bytes 0x99
 *           4      1     encoding: 2 = EBCDIC, any other value (1) = ASCII
 *           5      1     unicode_high_low: not read
 *           6      1     IsCFileGenerate: 0 in a file, nonzero when built in
 *           7      1     flags: not read
 *           8      2     num_msgs, big-endian (first byte * 256 + second)
 *           10     2     arraysize, big-endian: 2 * num_msgs
 *           12     2     txtsize, big-endian
 *           14     18    reserved: not read
 *
 * Each entry of the offset array is a text's offset from the start of the
 * text area. Every text begins with its 7-character key: the 2-character
 * application ID in upper case and the message number as 5 decimal digits
 * (AB00042). The entries are ordered by the keys' bytes, compared as unsigned
 * bytes (KW_shellsort_offs with cmplen 7 produces that order). Entry 0, the
 * smallest key, is the not-found entry: it is formatted, with the requested
 * number as argument 1, for any number the catalog does not hold.
 *
 * EBCDIC catalogs: texts AND keys are stored in the catalog's encoding (AB00042
 * is C1 C2 F0 F0 F0 F4 F2). The caller always gives the application ID in the
 * platform's encoding (ASCII); it is upper-cased, translated with
 * KW_xlate_ASC_EBC and the digits generated in EBCDIC before the key meets
 * the catalog's bytes; KW_MsgRSprintf's application check is made the same
 * way. The output is EBCDIC; s values are copied as they are, so pass them in
 * EBCDIC too. Translate the result with KW_xlate_EBC_ASC to get the text an
 * ASCII catalog of the same messages gives.
 *
 * Specifiers in a text (all characters in the catalog's encoding):
 *
 *   % position ! [-] [width] [.precision] [l] conversion !
 *
 *   position   1 to 9: argument 1 to 9 of the call
 *   -          left-justify (fill after the text); default right-justify
 *   width      decimal; a leading 0 makes the fill '0' instead of blank, on
 *              either side (%1!-05d! of 42 is 42000, %1!05d! of -42 is 00-42)
 *   .precision decimal; cuts the converted text, numbers included, to that
 *              many characters (%1!.2d! of 12345 is 12); 0 means no cut
 *   l          accepted and ignored: every number is 32 bits
 *   conversion c (one byte, none for 0), s (text), d (signed decimal),
 *              u (unsigned decimal), o (octal), x or X (hexadecimal, always
 *              upper case)
 *   %%         one percent sign
 *
 * Arguments are taken in position order, whatever the order of the
 * specifiers in the text, so a text's positions must be 1, 2, ... without
 * gaps or repeats, and the caller passes argument 1 first. A text holds at
 * most 9 specifiers. Each specifier's argument kind is judged by its last
 * character before the closing '!' (a specifier is read up to its second
 * '!', at most 20 characters): X c d i o u x take a 32-bit number (int32_t
 * or uint32_t, even with l -- never a 64-bit long), s a text.
 *
 * What unusual texts give (none reads outside the text, the arguments or the
 * tables, and the bounded twins never write outside the buffer):
 *  - a text ending right after '%' or inside a specifier before its first
 *    '!', a position outside 1 to 9 (also a missing one), an unknown
 *    conversion (i included: it takes an argument but is not formatted) or a
 *    text ending right before the conversion: the output ends where the
 *    specifier starts;
 *  - a specifier missing only its closing '!' at the very end of the text is
 *    converted;
 *  - a specifier of fewer than 2 characters (a text ending in %x) takes no
 *    argument;
 *  - specifiers after the ninth take no argument of their own; they are still
 *    formatted from their position's argument;
 *  - specifiers with the same first character take their arguments in the
 *    order in which they appear in the text;
 *  - a position that received no argument, or one of the other kind (a text
 *    where a number is wanted or the reverse), formats as 0 or as the empty
 *    text; a NULL s argument formats as the empty text;
 *  - widths and precisions above 2,147,483,647 count as that value, and a
 *    length above it is returned as 2,147,483,647.
 *
 * Upper case: the formatting calls upper-case the caller's appID in place
 * with the runtime's _strupr on Windows, which follows the application's
 * LC_CTYPE locale; elsewhere only a to z change. In the default "C" locale
 * the two agree.
 *
 * Thread-safety: an open catalog is only read, by any number of threads at
 * once. The formatting calls upper-case the caller's appID in place, so
 * threads must not share a writable appID that is not upper case already.
 * Opening and closing one handle are the caller's to serialise.
 */

/* The caller's catalog handle: exactly 32 bytes on every host, any
 * alignment. Filled by KW_MsgOpen, read by the formatting calls. A copy of an
 * open handle (its 32 bytes) is an equally good handle of the same catalog
 * until the catalog is closed: every copy refers to the one loaded block, and
 * closing any copy ends them all (see KW_MsgClose). */
typedef struct KW_MSG_CATALOG { unsigned char _[32]; } KW_MSG_CATALOG, *PKW_MSG_CATALOG;

#define KW_MSG_ERR         10    /* KW_MsgOpen / KW_MsgClose failed */
#define KW_MSG_STRIP_KEY    1    /* flags bit 0: drop the first 11 characters */
#define KW_MSG_BAD_HANDLE (-1)   /* bounded twins: the handle is not open */
#define KW_MSG_WRONG_APP  (-2)   /* KW_MsgRSnprintf: catalog of another application */

/*
 * KW_MsgOpen() : load a catalog file, or adopt a catalog built into the
 * application, into the handle pCatalog.
 *
 * pCatalogName  path of a catalog file, or NULL or "" for none. The file is
 *               read whole, in binary, into one block of its length obtained
 *               from alloc_mem (or malloc when alloc_mem is NULL).
 * pDefault      a complete, writable built-in catalog image (header, array,
 *               texts, IsCFileGenerate nonzero), or NULL. It is used when no
 *               name is given or the file cannot be opened -- never in place
 *               of a file that exists but is refused. It stays the
 *               application's; its offset array is converted in place, so it
 *               can be opened once only.
 * alloc_mem, free_mem  memory callbacks or NULL. free_mem is used only to
 *               hand back the block of a refused file; with alloc_mem but no
 *               free_mem such a block cannot be handed back and is kept.
 * pCatalog      the caller's handle; written only on success.
 *
 * Before anything in an image is trusted it must show: the signature; an
 * IsCFileGenerate that agrees with where it comes from (0 for a file,
 * nonzero for pDefault); arraysize equal to 2 * num_msgs; a file length of
 * exactly 32 + arraysize + txtsize (at most 65,535 for pDefault); every
 * offset at least 8 bytes before the end of the text area (room for a key and
 * its zero); a text area ending with a zero byte (an empty text area only
 * with no messages). A catalog without messages opens.
 *
 * On success the handle holds the header (counts still big-endian) and the
 * image's address in bytes 24 to 31 (with 4-byte addresses: the offset array
 * at 24 and the text area at 28); the image's offset array is in native order.
 *
 * @return 0, or KW_MSG_ERR (10) when: pCatalog is NULL; there is no name and
 *         no pDefault; the file cannot be opened and there is no pDefault;
 *         the file is shorter than 32 bytes (empty included), longer than
 *         65,535 bytes, or cannot be read whole; the block cannot be obtained
 *         (alloc_mem failing or malloc returning NULL); the file or pDefault
 *         fails a check above. A block obtained is handed back before 10 is
 *         returned; the handle is not written.
 */
KW_API uint32_t KW_MsgOpen(const char *pCatalogName, PKW_MSG_CATALOG pDefault, KW_ALLOC_MEM alloc_mem, KW_FREE_MEM free_mem, PKW_MSG_CATALOG pCatalog);

/*
 * KW_MsgClose() : hand back a loaded catalog's block.
 *
 * free_mem must be the counterpart of the alloc_mem given to KW_MsgOpen (NULL
 * if that was NULL: free is used). The block goes back with the size
 * 32 + arraysize + txtsize, the file's length with which it was obtained, and
 * the handle's signature is cleared, so any later use of it, a second close
 * included, is refused. A built-in catalog's handle is left as it is: nothing
 * is released and it stays usable.
 *
 * Copies: closing a loaded catalog through any copy of its handle ends every
 * copy. Only the copy passed here loses its signature and is refused from then
 * on; the others still carry it, and passing any of them to a formatting call
 * or to KW_MsgClose afterwards is undefined (it reaches the released block; a
 * close through it releases the block a second time). Close one copy, once,
 * when no other copy is in use. Copies of a built-in catalog's handle stay
 * usable, as the handle itself does.
 * @return 0; KW_MSG_ERR (10) when pCatalog is NULL or lacks the signature
 *         (nothing is released).
 */
KW_API uint32_t KW_MsgClose(PKW_MSG_CATALOG pCatalog, KW_FREE_MEM free_mem);

/*
 * KW_MsgSprintf() : format message msgnum of the application appID, taking
 * the arguments from the trailing arguments.
 *
 * flags   bit 0 (KW_MSG_STRIP_KEY): leave out the first 11 characters of the
 *         text (the key and what the catalog puts after it, "AB00042E - "); a
 *         text of 11 characters or fewer then gives the empty text and 0.
 *         Other bits are ignored.
 * buffer  receives the text, zero-terminated, in the catalog's encoding. Its
 *         size is not known here: it must hold the whole text. For texts from
 *         a catalog or arguments that are not fully trusted use
 *         KW_MsgSnprintf.
 * appID   the application ID in the platform's encoding; upper-cased in
 *         place, before anything else, even when the call fails. Only its
 *         first two characters count. NULL: the catalog's own (the first two
 *         bytes of its text area).
 * ...     the arguments, argument 1 first: int32_t/uint32_t for X c d i o u
 *         x, a pointer to a zero-terminated text for s.
 *
 * The key (application ID and msgnum as 5 digits) is looked up by binary
 * search; a number the catalog does not hold, or a foreign appID, gives the
 * not-found entry formatted with msgnum as argument 1 (entry 0 takes no
 * arguments from the call, even when asked for by its own number).
 * Example: "AB00042E - Disk %1!s! has %2!d! blocks free." with appID "ab",
 * 42, "C:", 17 writes "AB00042E - Disk C: has 17 blocks free." and returns
 * 38; with flags 1, "Disk C: has 17 blocks free." and 27.
 *
 * @return the length of the text in buffer; 0 when the handle lacks the
 *         signature (buffer untouched), and 0 with the empty text for a
 *         catalog without messages. Never allocates.
 */
KW_API int32_t KW_MsgSprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, char *appID, uint16_t msgnum, ...);

/*
 * KW_MsgVSprintf() : KW_MsgSprintf with the arguments in a va_list,
 * positioned at argument 1. The caller's va_list is not consumed (the call
 * reads a copy).
 */
KW_API int32_t KW_MsgVSprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, char *appID, uint16_t msgnum, va_list argptr);

/*
 * KW_MsgRSprintf() : KW_MsgSprintf with the arguments in a packed list, and a
 * check that the catalog is the caller's.
 *
 * pArgList  3 header bytes (not read), then one field per argument in
 *           position order (argument 1 first), each a length byte L (0 to
 *           255) and L bytes of value:
 *             number, L 4    the 32-bit value, machine byte order
 *             number, L 2    the 16-bit value, machine byte order, zero-
 *                            extended when the specifier has the letter l
 *                            (%1!ld!), sign-extended otherwise
 *             number, other  0
 *             text (s)       the L bytes, without terminator (L 0: empty)
 *           Values are read where they lie, at any alignment. Texts are
 *           copied into a fixed area on the call's stack, so the call never
 *           allocates. The list's length is not known: it must hold every
 *           field the text's specifiers take. NULL reads as a list of 0s and
 *           empty texts. For lists that are not fully trusted use
 *           KW_MsgRSnprintf.
 * appID     NULL: the catalog's own application ID. Otherwise upper-cased in
 *           place (only after the signature test) and its first two
 *           characters, translated into the catalog's encoding, compared with
 *           the first two bytes of the catalog's text area. When they differ,
 *           buffer receives, in ASCII and without flags bit 0 applied,
 *             "\r\nInvalid message table for application %s who generate error %d "
 *           with the whole appID and msgnum, and the result is 0.
 *
 * @return as KW_MsgSprintf, and 0 for a catalog of another application. With
 *         a bad handle neither buffer nor appID is touched.
 */
KW_API int32_t KW_MsgRSprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, char *appID, uint16_t msgnum, const unsigned char *pArgList);

/*
 * KW_MsgSnprintf(), KW_MsgVSnprintf(), KW_MsgRSnprintf() : the bounded twins,
 * the ones to use for catalogs, arguments or lists that are not fully
 * trusted. They produce exactly the text of the calls above, but:
 *
 * (A variable argument list cannot tell the kinds of its arguments: with a
 * catalog that is not trusted, a specifier s where the caller passed a
 * number still makes the formatter follow that number as an address. Only
 * KW_MsgRSnprintf, whose list holds no addresses, is safe against any
 * catalog and any list.)
 *
 * bufsize   the size of buffer in bytes. Nothing is ever written at or past
 *           buffer[bufsize]; when bufsize is at least 1 the text stored is
 *           always terminated (cut to bufsize - 1 characters if need be).
 *           buffer may be NULL when bufsize is 0 (to learn the length).
 * listsize  (KW_MsgRSnprintf) the length of pArgList in bytes, header
 *           included. Nothing at or past pArgList[listsize] is read: a field
 *           that would pass it, and every field after it, reads as 0 or the
 *           empty text.
 *
 * @return >= 0  the length of the whole text (as snprintf: a result of
 *               bufsize or more means the text was cut; call again with a
 *               buffer of result + 1 bytes). 0 with the empty text for a
 *               catalog without messages.
 *         KW_MSG_BAD_HANDLE (-1)  the handle lacks the signature; buffer
 *               holds the empty text (when bufsize >= 1).
 *         KW_MSG_WRONG_APP (-2)  (KW_MsgRSnprintf) a catalog of another
 *               application; buffer holds as much of the invalid-table text
 *               as fits.
 */
KW_API int32_t KW_MsgSnprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, uint32_t bufsize, char *appID, uint16_t msgnum, ...);
KW_API int32_t KW_MsgVSnprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, uint32_t bufsize, char *appID, uint16_t msgnum, va_list argptr);
KW_API int32_t KW_MsgRSnprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, uint32_t bufsize, char *appID, uint16_t msgnum, const unsigned char *pArgList, uint32_t listsize);

/* ======================================================================
 * Character translation
 * ====================================================================== */

/*
 * Translation tables. A table is 256 bytes: entry b is the byte that
 * replaces byte b. The three below are constant data in read-only memory,
 * never changed at run time, and may be read by any number of threads.
 * KW_strxlt and KW_memxlt accept any 256-byte table, not only these.
 *
 * KW_xlate_ASC_EBC  ASCII to EBCDIC. Bytes 0x00-0x7F follow code page 037
 *     except seven entries: 0x0A (line feed) gives 0x15, not 0x25; 0x1C
 *     gives 0x22; 0x1E gives 0x35; '[' gives 0xAD; ']' gives 0xBD; '^'
 *     gives 0x5F; '|' gives 0x6A. Bytes 0x80-0xFF pass through unchanged.
 * KW_xlate_EBC_ASC  EBCDIC to ASCII. On the 128 codes that KW_xlate_ASC_EBC
 *     makes of 0x00-0x7F it is the exact inverse of that table. Of the other
 *     128 codes, 120 map to themselves and eight do not: 0x4A gives 0x9B,
 *     0x4F gives '|', 0x8B '{', 0x8D '(', 0x8E '+', 0x9B '}', 0x9D ')' and
 *     0xFA '|'.
 * KW_xlate_dummy  the identity: entry b is b. Translating through it changes
 *     nothing, for code that always translates and meets text already in
 *     the wanted encoding.
 *
 * What callers may rely on:
 *  - ASCII to EBCDIC and back restores every byte 0x00-0x7F.
 *  - Neither conversion table is a permutation. Of the bytes 0x80-0xFF
 *    taken to EBCDIC and back, 68 collide with the image of an ASCII
 *    character and come back as that character (0xC1 stays 0xC1, the image
 *    of 'A', and returns as 'A'; 0xE9 returns as 'Z'); six come back as
 *    punctuation (0x8B, 0x8D, 0x8E, 0x9B, 0x9D, 0xFA); 54 come back
 *    unchanged.
 *  - EBCDIC to ASCII and back restores a code exactly when it is one of the
 *    128 images of ASCII, or is 0x80 or above and KW_xlate_EBC_ASC leaves
 *    it unchanged: 182 of the 256 codes.
 *  - Several EBCDIC codes share one ASCII result: 0x4F, 0x6A and 0xFA all
 *    give '|'; 0x05 and 0x09 both give tab (0x09). Only 0x15 gives line
 *    feed; EBCDIC 0x25 gives 0x25.
 */
KW_API extern const unsigned char KW_xlate_ASC_EBC[256];
KW_API extern const unsigned char KW_xlate_EBC_ASC[256];
KW_API extern const unsigned char KW_xlate_dummy[256];

/*
 * KW_strxlt() : translate a zero-terminated string in place.
 *
 * string  the string, changed in place.
 * table   a 256-byte translation table.
 *
 * From the first byte on, each byte is tested and, unless it is 0, replaced
 * by table[byte]. The test is made before the byte is translated, so a
 * table that maps a nonzero byte to 0 shortens the string only for later
 * readers, not for this call. The terminating zero is neither translated
 * nor moved, and nothing after it is read or written. Bytes are handled
 * strictly one after another, so a table that lies inside the string is
 * read as the earlier writes left it.
 *
 * Not checked: a NULL string or table, a table shorter than 256 bytes, a
 * string without its terminator. Reentrant; no state is kept. One string
 * must not be translated by two threads at the same time.
 */
KW_API void KW_strxlt(unsigned char *string, const unsigned char *table);

/*
 * KW_memxlt() : translate exactly len bytes in place.
 *
 * string  the buffer, changed in place.
 * table   a 256-byte translation table.
 * len     the number of bytes; 0 touches nothing.
 *
 * string[0] to string[len-1] are each replaced by table[byte], zero bytes
 * included (a zero becomes table[0]). No byte before string[0] or past
 * string[len-1] is read or written, and no table byte past table[255] is
 * read.
 *
 * Long buffers are translated with the widest vector instructions the CPU
 * offers (AVX-512 VBMI or AVX2 on x86), chosen anew on each call; the bytes
 * produced are the same on every CPU. A buffer that overlaps its own table
 * is translated strictly one byte after another, each byte looked up in the
 * table as the earlier writes left it: translating a copy of a table
 * through itself gives the same bytes as the plain loop
 * for (i = 0; i < len; i++) string[i] = table[string[i]].
 *
 * Not checked: a NULL string or table, a table shorter than 256 bytes, a
 * len beyond the buffer. Reentrant; no state is kept. One buffer must not
 * be translated by two threads at the same time.
 */
KW_API void KW_memxlt(unsigned char *string, const unsigned char *table, uint32_t len);

/* ======================================================================
 * General utilities
 * ====================================================================== */

/* Offset-array sort and search.
 *
 * An offset array is numdata unsigned 16-bit offsets into a data block pData:
 * entry k designates the record at pData + offs[k], whose key is the cmplen
 * bytes starting there, compared as unsigned bytes like memcmp (a zero byte
 * is a byte like any other). Records may overlap or share a start; the block
 * is only read, and no key byte outside pData[offs[k]] .. pData[offs[k] +
 * cmplen - 1] is ever read. Pointers and sizes are not checked. Neither
 * function allocates or keeps state: any number of threads may search one
 * array, but an array must not be searched or sorted while it is sorted.
 */

/*
 * KW_shellsort_offs() : sort the offsets by their records' keys, ascending.
 *
 * The permutation, equal keys included, is exactly that of this Shell sort:
 * gaps numdata/2, numdata/4, ..., 1 (integer halving; 5, 2, 1 for 10
 * entries); for each gap, passes over i = 0 .. numdata - 1 - gap that
 * exchange entries i and i + gap when the key of i + gap is strictly less,
 * repeated until a pass exchanges nothing. So equal keys are never exchanged
 * with each other directly, but the sort is not stable: the larger gaps can
 * change their relative order. (The same result is reached with far fewer
 * comparisons by sorting each gap's chains by insertion, which is what runs.)
 * numdata 0 or 1, or cmplen 0, changes nothing.
 */
KW_API void KW_shellsort_offs(uint16_t *offs, uint32_t numdata, uint32_t cmplen, const unsigned char *pData);

/*
 * KW_bsearch_offs() : find the entry whose record's key equals the cmplen
 * bytes at pSearch, in an array sorted by KW_shellsort_offs with the same
 * cmplen and pData.
 *
 * Binary search over low = 0 .. high = numdata - 1 probing median =
 * (low + high) / 2. Where several entries have equal keys, the index returned
 * is the first of them that this probe sequence meets, not necessarily the
 * lowest; with cmplen 0 it is (numdata - 1) / 2. On an unsorted array the
 * result is -1 or the index of some equal key.
 * @return the index (0 .. numdata - 1), or -1 when no key is equal, also
 *         for numdata 0. numdata must not exceed 2,147,483,647.
 */
KW_API int32_t KW_bsearch_offs(const unsigned char *pSearch, const uint16_t *offs, uint32_t numdata, uint32_t cmplen, const unsigned char *pData);

/*
 * KW_strcmp_wildcards() : does target match the pattern source?
 *
 * Positional, no backtracking. Only two bytes are special in source:
 *   '?'  matches any one character (and also the end of target, when the
 *        pattern holds a '*' somewhere after it: 'NE?*' matches "NE");
 *   '*'  matches any remainder, the empty one included, and ends the
 *        comparison: whatever follows it in the pattern is ignored
 *        ('NET*XY' behaves as 'NET*').
 * Every other byte must equal the target's byte exactly (case-sensitive).
 * A pattern without '*' matches only targets of exactly its own length.
 * Neither string is changed or read past its terminator; both must be
 * zero-terminated and not NULL. Reentrant.
 * @return 1 when target matches, else 0.
 */
KW_API unsigned char KW_strcmp_wildcards(const unsigned char *target, const unsigned char *source);

/*
 * RDC block compression.
 *
 * A block of at most 65,535 bytes is coded as a stream of groups: a 16-bit
 * control word, most significant byte first, then up to 16 items, bit 15
 * describing the first. A 0 bit is a literal (one byte copied as is), a 1 bit
 * a command whose first byte's high nibble is its code:
 *
 *   0      short run   2 bytes  count 3..18
 *   1      long run    3 bytes  count 19..4,114
 *   2      long copy   3 bytes  count 16..271, distance 3..4,098
 *   3..15  short copy  2 bytes  count = code, distance 3..4,098
 *
 * A copy repeats count bytes of the output starting distance bytes before its
 * current end. Only the last group may hold fewer than 16 items; its unused
 * control bits are 0. The stream holds no length and no mark: a block that
 * does not compress is handed back verbatim, and the caller must record which
 * of the two it stored (and the original length) itself.
 *
 * The stream format is fixed, and so is the compressor's output: for a given
 * input it always writes the same bytes. It parses greedily, one position at
 * a time with no look-ahead: a run of 3 or more equal bytes if there is one,
 * else a copy of 3 or more bytes from the latest earlier position with the
 * same 12-bit hash of the next three bytes (within 4,098 bytes, never reaching
 * into the bytes being coded), else a literal.
 */

/*
 * KW_RdcCompress() : compress inbuff_len bytes of inbuff into outbuff.
 *
 * outbuff   room for at least inbuff_len bytes; must not overlap inbuff.
 * work_buff the hash table's work area: 4,096 pointer-sized entries
 *           (4096 * sizeof(void *) bytes, suitably aligned for pointers), or
 *           NULL to have one taken from malloc for the call and freed before
 *           it returns. A supplied area is overwritten (its contents mean
 *           nothing afterwards); the output does not depend on whether one
 *           was supplied. Concurrent calls need separate areas.
 *
 * Inputs of up to 18 bytes are always copied verbatim (no work area is used
 * or allocated). A longer input is compressed; when the stream would not end
 * within inbuff_len bytes the input is copied verbatim instead.
 *
 * @return the number of bytes written, never more than inbuff_len:
 *   < inbuff_len  outbuff holds a stream;
 *   = inbuff_len  outbuff holds either a verbatim copy or a stream of exactly
 *                 that length: the result alone does not tell which (compare
 *                 outbuff with inbuff when it matters);
 *   0             for an empty input, or when work_buff is NULL and the work
 *                 area could not be allocated (outbuff is then untouched).
 * Bytes of outbuff past the returned length are not written. Pointers and
 * lengths are not checked. Reentrant.
 */
KW_API uint16_t KW_RdcCompress(const unsigned char *inbuff, uint16_t inbuff_len, unsigned char *outbuff, void *work_buff);

/*
 * KW_RdcCompressLevel() : compress like KW_RdcCompress, searching harder.
 *
 * Writes the same stream format, which KW_RdcDecompress and
 * KW_RdcDecompressBound expand; only the choice of items differs.
 *
 * level     1 or less: exactly KW_RdcCompress's bytes. 2 to 9: a search over
 *           the same 4,098-byte window with more candidates per position
 *           (2, 3 greedy; 4 to 8 lazy, deeper with each level; 9 the
 *           cheapest parse in bits of each stretch of 1,024 positions).
 *           Above 9: as 9. A level's output is fixed: the same input gives
 *           the same bytes on every host and with or without a work area.
 * work_buff as for KW_RdcCompress: 4,096 pointer-sized entries, or NULL for
 *           one taken from malloc for the call and freed before it returns;
 *           levels 2 to 9 use its first 16,384 bytes. Nothing is allocated
 *           when one is given (level 9 keeps about 8 KiB on the stack).
 *
 * Inputs of up to 18 bytes are copied verbatim. Every copy in the stream has
 * a count of at most its distance. When the stream would not end within
 * inbuff_len bytes the input is copied verbatim instead.
 *
 * @return as for KW_RdcCompress: the bytes written, never more than
 *   inbuff_len (a result equal to it may be a copy or a stream), 0 for an
 *   empty input or a failed allocation (outbuff untouched). Reentrant;
 *   concurrent calls need separate work areas.
 */
KW_API uint16_t KW_RdcCompressLevel(const unsigned char *inbuff, uint16_t inbuff_len, unsigned char *outbuff, void *work_buff, int level);

/*
 * KW_RdcDecompress() : expand the stream of inbuff_len bytes into outbuff.
 *
 * For streams that KW_RdcCompress wrote (never for verbatim copies: their
 * first two bytes would be read as a control word). outbuff must hold the
 * whole expansion, which the caller knows from its own record of the
 * original length; inbuff and outbuff must not overlap. Bytes of outbuff past
 * the expansion are left untouched.
 *
 * Other streams are handled without reading outside inbuff or before the
 * start of outbuff: expansion stops at the first item that is cut off by the
 * end of the stream (a lone control-word byte included), at a copy that
 * reaches before the start of the output, and at an item that would carry
 * the output past 65,535 bytes; the bytes written before it stay and their
 * number is returned. A copy longer than its distance repeats the last
 * distance bytes. On such streams the function may change any of the first
 * 65,535 bytes of outbuff, also past the returned length, so outbuff needs
 * 65,535 bytes unless the stream is known to come from KW_RdcCompress.
 * Untrusted data needs KW_RdcDecompressBound.
 *
 * @return the number of bytes written to outbuff (0 for an empty stream).
 * Reentrant.
 */
KW_API uint16_t KW_RdcDecompress(const unsigned char *inbuff, uint16_t inbuff_len, unsigned char *outbuff);

/*
 * KW_RdcDecompressBound() : expand a stream into outbuff, which holds
 * outbuff_size bytes. The one to use for data that may be damaged or hostile.
 *
 * Expands exactly as KW_RdcDecompress, but refuses any stream that would
 * write past outbuff_size bytes or past 65,535 bytes (the largest block,
 * however much room outbuff has), any item cut off by the end of the stream
 * and any copy that reaches before the start of the output. It never reads
 * outside inbuff[0 .. inbuff_len) nor writes outside
 * outbuff[0 .. outbuff_size). On success the bytes of outbuff past the
 * returned length are untouched; after a refusal outbuff's first outbuff_size
 * bytes hold nothing meaningful.
 *
 * @return the number of bytes written (0 to the smaller of outbuff_size and
 *         65,535), or -1 when the stream was refused. Whenever it is not -1,
 *         KW_RdcDecompress returns the same number for the same stream and
 *         writes the same bytes. Reentrant.
 */
KW_API int32_t KW_RdcDecompressBound(const unsigned char *inbuff, uint16_t inbuff_len, unsigned char *outbuff, uint32_t outbuff_size);

/*
 * Buffer scrambling.
 *
 * KW_crbrk() scrambles bufsize bytes of buffer in place; KW_dcprc() restores
 * them. Each undoes the other for every buffer and length: KW_dcprc after
 * KW_crbrk gives the original back, and so does KW_crbrk after KW_dcprc.
 * The length does not change and nothing is added: no header, no checksum.
 *
 * The scrambling is a keystream XOR, not encryption: it keeps text from
 * being read at a glance and offers no protection against anyone who has
 * this library. The keystream comes from one of 64 key strings built into
 * the library, chosen per buffer from its own bytes, with a start point
 * also taken from the buffer. Bytes 0 and 39 are only XORed with a fixed
 * one-byte mask (one value for buffers under 40 bytes, another for longer
 * ones), because they carry the key choice: a 1-byte buffer is therefore
 * only XORed with that mask, and scrambling it twice restores it. In
 * general scrambling twice does not restore a buffer (the second pass
 * chooses its key from the scrambled bytes): restore with KW_dcprc.
 *
 * A buffer scrambled by this library can be restored only by a library with
 * the same key table; the table is fixed for good.
 *
 * bufsize 0 reads and writes nothing (buffer may then be NULL). No result.
 * Reentrant; one buffer must not be scrambled by two threads at once.
 */
KW_API void KW_crbrk(unsigned char *buffer, uint32_t bufsize);
KW_API void KW_dcprc(unsigned char *buffer, uint32_t bufsize);

/*
 * KW_FastTextFind() : count the occurrences of a pattern in a text.
 *
 * The text's txtlen bytes are at txt[1 .. txtlen], the pattern's patlen
 * bytes at pat[1 .. patlen]; index 0 of each buffer is a reserved slot that
 * the function overwrites: after every call, whatever the lengths, txt[0]
 * holds 0xFF and pat[0] holds 0xFE (stored first, before the search). Only
 * txt[0 .. txtlen] and pat[0 .. patlen] are accessed; no terminator is needed
 * or looked at, and nothing else is changed.
 *
 * Comparison is exact byte equality (case-sensitive), over all 256 byte
 * values: bytes above 127, and text bytes equal to 0xFE or 0xFF, are counted
 * like any other. Every position at which the pattern occurs counts, so
 * overlapping occurrences are included ("aa" occurs 3 times in "aaaa").
 *
 * @return the number of occurrences, never negative; 0 when there is none,
 *         when txtlen < patlen (a negative txtlen included), and when patlen
 *         is 0 or negative (the slots are stored all the same).
 * Reentrant; keeps nothing between calls. Two threads must not search with
 * the same text or pattern buffer at once, since both write index 0.
 */
KW_API int32_t KW_FastTextFind(int32_t txtlen, unsigned char *txt, int32_t patlen, unsigned char *pat);

/*
 * KW_GetString() : read one line typed at the console into ReadString.
 *
 * ReadString  the caller's buffer of StringLen bytes; it receives at most
 *             StringLen - 1 characters and a terminating 0.
 *
 * Keys are read one at a time, without echo and without waiting for a line,
 * and handled as they come:
 *   Backspace (0x08)   erases the last character: writes BS, space, BS;
 *                      on an empty line it rings the bell (0x07).
 *   a printable key    (isprint in the current locale; 0x20 to 0x7E in the
 *                      "C" locale) is echoed and stored while there is room;
 *                      with the buffer full it rings the bell.
 *   Enter (0x0D)       ends the line; it is neither stored nor echoed, and no
 *                      line feed is written: the cursor stays after the text.
 *   the end of input   ends the line as Enter would (end of file, a closed
 *                      terminal, a read error).
 *   anything else      rings the bell and changes nothing: control keys,
 *                      Escape, a line feed, and a cursor or function key as a
 *                      whole, with one bell (its codes never type letters).
 * Then ReadString[length] = 0. Echo and bells go to standard output, one
 * character at a time, each flushed.
 *
 * Where the keys come from:
 *  - Windows: the console itself, never a redirected standard input. A
 *    special key arrives as a prefix 0x00 or 0xE0 and a code, taken as one
 *    key (refused), so a character with the code 0xE0 cannot be typed.
 *  - POSIX, standard input a terminal: for the duration of the call the
 *    terminal is in raw mode (no echo, CR kept as CR, Ctrl+C and the like
 *    arrive as keys, refused, instead of signals); its settings are put
 *    back before the function returns. A terminal that is closed meanwhile
 *    also sends the process SIGHUP, which ends it unless the application
 *    ignores or handles that signal. The terminal's erase character
 *    (usually 0x7F) counts as Backspace; an escape sequence is one key
 *    (refused), and an Escape key alone is told from the start of a
 *    sequence by a short wait for the byte after it.
 *  - POSIX, standard input a pipe or a file: every byte is one key, with no
 *    interpretation (ESC [ A are three keys; only 0x0D or the end of input
 *    ends the line).
 * How each host reads the keys: docs/platforms.md, "Console input".
 *
 * StringLen 0: returns at once, reading no key and writing nothing. Bytes of
 * ReadString past the terminator are not written; the pointer is not
 * checked. Blocks until the line ends. Keeps no state between calls;
 * concurrent calls would share the one console.
 */
KW_API void KW_GetString(unsigned char *ReadString, uint16_t StringLen);

/* ======================================================================
 * Version
 * ======================================================================
 *
 * kwutil_version.h, included above, defines the version of these headers:
 * KW_VERSION_MAJOR, KW_VERSION_MINOR and KW_VERSION_PATCH (integers) and
 * KW_VERSION_STRING ("MAJOR.MINOR.PATCH"). The functions below give the
 * version of the library actually loaded, which may differ from the
 * headers' when the shared library was replaced; the major numbers of a
 * compatible pair are equal.
 */

/*
 * KW_versionNumber() : the loaded library's version as one number,
 * MAJOR * 10000 + MINOR * 100 + PATCH (0.1.0 gives 100, 1.2.3 gives 10203),
 * to compare with the same sum of the KW_VERSION_ macros.
 * Always succeeds; keeps no state; callable from any thread at any time.
 */
KW_API uint32_t KW_versionNumber(void);

/*
 * KW_versionString() : the loaded library's version as a zero-terminated
 * text "MAJOR.MINOR.PATCH" (for example "0.1.0").
 * The text is the library's own, static and read-only: never free or write
 * it; it stays valid while the library is loaded. Always succeeds; keeps no
 * state; callable from any thread at any time.
 */
KW_API const char *KW_versionString(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* KWUTIL_H */
