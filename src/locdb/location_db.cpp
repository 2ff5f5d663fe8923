/* The offline IP location database: qqwry.dat read whole into one zero-filled
 * block, searched by its index and decoded in place.
 *
 * The file comes from outside, so every read of the image is checked against
 * the block: a byte outside it reads as zero, exactly as the zero bytes
 * after the file's end do. A text therefore always starts inside the block
 * (one outside it is the block's last byte, which is always a zero after the
 * file) and ends there too. */
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "locdb/location_db.h"

/* The smallest block; a larger file gets a block one byte longer than itself
 * so that at least one zero byte follows it. */
#define MIN_IMAGE_SIZE 10485760u
#define INDEX_RECORD_SIZE 7u

unsigned char *LocationDbImage;
static size_t ImageSize;

/* Offset in the image of IndexRecord 0, and the number of the last record,
 * both derived from the header by every PrepareLocationDb. The offset is kept
 * rather than a pointer, since a damaged header may point past the block. */
static DWORD FirstIndexRecord;
static DWORD LastIndex;

static const char UnknownArea[] = "Unknown";
static const char NoText[] = "";

/* ---- bounds-checked reads of the image ---- */

static DWORD LittleEndian32(const unsigned char *p)
{
    DWORD v;

    memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

static unsigned char ReadU8(unsigned long long offset)
{
    return offset < ImageSize ? LocationDbImage[offset] : 0;
}

/* Reads bytes [offset, offset + width) as a little-endian number; bytes
 * outside the block count as zero. */
static DWORD ReadPartial(unsigned long long offset, unsigned width)
{
    DWORD v = 0;
    unsigned i;

    for (i = 0; i < width; i++)
        v |= (DWORD)ReadU8(offset + i) << (8 * i);
    return v;
}

static DWORD ReadU32(unsigned long long offset)
{
    if (offset + 4 <= ImageSize)
        return LittleEndian32(LocationDbImage + offset);
    return ReadPartial(offset, 4);
}

static DWORD ReadU24(unsigned long long offset)
{
    /* A 4-byte read that stays inside the block is cheaper than three
     * single bytes; the fourth byte is dropped. */
    if (offset + 4 <= ImageSize)
        return LittleEndian32(LocationDbImage + offset) & 0xFFFFFFu;
    return ReadPartial(offset, 3);
}

/* The text at offset, or the block's last byte (always zero) when the offset
 * lies outside the block. */
static const char *TextAt(unsigned long long offset)
{
    if (offset >= ImageSize)
        offset = ImageSize - 1;
    return (const char *)LocationDbImage + offset;
}

/* Where the field after the text at offset starts. Outside the block the
 * text is empty, so the field follows at offset + 1. */
static unsigned long long AfterText(unsigned long long offset)
{
    if (offset >= ImageSize)
        return offset + 1;
    return offset + strlen((const char *)LocationDbImage + offset) + 1;
}

/* ---- the index ---- */

static unsigned long long IndexRecordOffset(DWORD k)
{
    return (unsigned long long)FirstIndexRecord + (unsigned long long)INDEX_RECORD_SIZE * k;
}

static DWORD StartAddress(DWORD k)
{
    return ReadU32(IndexRecordOffset(k));
}

static DWORD LocationRecordOffset(DWORD k)
{
    return ReadU24(IndexRecordOffset(k) + 4);
}

static DWORD EndAddress(DWORD k)
{
    return ReadU32(LocationRecordOffset(k));
}

/* ---- loading ---- */

void LoadLocationDb(void)
{
    FILE *file;
    long size;
    size_t blockSize;
    unsigned char *block;
    int complete;

    /* Texts of earlier lookups point into the image held; never replace it. */
    if (LocationDbImage != NULL)
        return;

    file = fopen("qqwry.dat", "rb");
    if (file == NULL)
        return;

    size = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        size = ftell(file);
    /* No offset of the format, not even the header's, reaches 4 GiB: a
     * larger size (a directory reports one here) is no database. */
    if (size < 0 || (unsigned long long)size > 0xFFFFFFFFull || fseek(file, 0, SEEK_SET) != 0) {
        fclose(file);
        return;
    }

    blockSize = (size_t)size + 1;
    if (blockSize < MIN_IMAGE_SIZE)
        blockSize = MIN_IMAGE_SIZE;
    /* Only the bytes after the file need zeroing: the read fills the rest,
     * and zeroing all of it first would cost as much as the read itself. */
    block = (unsigned char *)malloc(blockSize);
    if (block == NULL) {
        fclose(file);
        return;
    }

    /* The block becomes the image only once the whole file is in it, so a
     * load cut short never leaves a half-read image behind. */
    complete = size == 0 || fread(block, (size_t)size, 1, file) == 1;
    fclose(file);
    memset(block + size, 0, blockSize - (size_t)size);
    if (!complete) {
        free(block);
        return;
    }
    ImageSize = blockSize;
    LocationDbImage = block;
}

void PrepareLocationDb(void)
{
    DWORD first;
    DWORD last;

    if (LocationDbImage == NULL)
        LoadLocationDb();
    if (LocationDbImage == NULL)
        return;

    first = ReadU32(0);
    last = ReadU32(4);
    FirstIndexRecord = first;
    LastIndex = (DWORD)(last - first) / INDEX_RECORD_SIZE;
}

int LocationDbLoaded(void)
{
    return LocationDbImage != NULL;
}

void ReleaseLocationDb(void)
{
    free(LocationDbImage);
    LocationDbImage = NULL;
    ImageSize = 0;
    FirstIndexRecord = 0;
    LastIndex = 0;
}

/* ---- lookup ---- */

/* A hint to the cache that the image byte at offset will be read soon; it
 * reads nothing and cannot fault, and is dropped outside the block. */
static void Prefetch(unsigned long long offset)
{
#if defined(__GNUC__)
    if (offset < ImageSize)
        __builtin_prefetch(LocationDbImage + offset);
#else
    (void)offset;
#endif
}

/* The number of the IndexRecord whose range holds the address, or 0 when no
 * range does. The end address is read only for probed records whose start
 * is not above the address.
 *
 * Each probe costs a cache miss or two in a large index. Two steps ahead,
 * the four index records the probe after next may look at are asked for;
 * one step ahead, the location records of the two the next probe may look
 * at (their offsets are in records asked for a step earlier). The misses
 * then overlap instead of following one another. */
static void PrefetchProbe(LONG lo, LONG hi, int depth)
{
    LONG mid;

    if (lo > hi)
        return;
    mid = (lo + hi) / 2;
    if (depth == 0) {
        Prefetch(IndexRecordOffset((DWORD)mid));
        return;
    }
    Prefetch(LocationRecordOffset((DWORD)mid));
    PrefetchProbe(lo, mid - 1, depth - 1);
    PrefetchProbe(mid + 1, hi, depth - 1);
}

static DWORD FindIndexRecord(DWORD address)
{
    LONG lo = 0;
    LONG hi = (LONG)LastIndex;

    while (lo <= hi) {
        LONG mid = (lo + hi) / 2;

        PrefetchProbe(lo, mid - 1, 1);
        PrefetchProbe(mid + 1, hi, 1);
        if (address < StartAddress((DWORD)mid))
            hi = mid - 1;
        else if (address <= EndAddress((DWORD)mid))
            return (DWORD)mid;
        else
            lo = mid + 1;
    }
    return 0;
}

static const char *DecodeArea(unsigned long long at)
{
    unsigned char mode = ReadU8(at);

    if (mode == 0x00)
        return UnknownArea;
    if (mode == 0x01 || mode == 0x02)
        return TextAt(ReadU24(at + 1));
    return TextAt(at);
}

static void DecodeLocation(DWORD record, LocationResult *result)
{
    unsigned long long field = (unsigned long long)record + 4;
    unsigned char mode = ReadU8(field);
    unsigned long long areaField;

    if (mode == 0x01) {
        DWORD target = ReadU24(field + 1);

        if (ReadU8(target) == 0x02) {
            result->country = TextAt(ReadU24((unsigned long long)target + 1));
            areaField = (unsigned long long)target + 4;
        } else {
            result->country = TextAt(target);
            areaField = AfterText(target);
        }
    } else if (mode == 0x02) {
        result->country = TextAt(ReadU24(field + 1));
        areaField = (unsigned long long)record + 8;
    } else {
        result->country = TextAt(field);
        areaField = AfterText(field);
    }
    result->area = DecodeArea(areaField);
}

void LookupLocation(const char *address, LocationResult *result)
{
    DWORD number;

    if (LocationDbImage == NULL) {
        result->country = NoText;
        result->area = UnknownArea;
        return;
    }
    number = htonl(inet_addr(address));
    DecodeLocation(LocationRecordOffset(FindIndexRecord(number)), result);
}
