/* Matrix and vector allocation. Kept in the C subset on purpose: plain
 * functions over raw blocks, no exceptions, so that any caller can use it. */
#include "LIB/NRUTIL.h"

#include <stdint.h>
#include <stdlib.h>

static void* default_alloc(size_t count, size_t size) { return calloc(count, size); }
static void default_free(void* block) { free(block); }

static nr_alloc_fn nr_alloc = default_alloc;
static nr_free_fn nr_free = default_free;

extern "C" void nr_set_allocator(nr_alloc_fn alloc, nr_free_fn release)
{
    nr_alloc = alloc ? alloc : default_alloc;
    nr_free = release ? release : default_free;
}

/* The one primitive: count x size zero-filled bytes, or null. A zero byte
 * count is a failure too, and so is a negative count or a product that does
 * not fit size_t, which calloc alone would not always catch. */
static void* zero_block(int count, size_t size)
{
    if (count <= 0 || size == 0) return NULL;
    if ((size_t)count > SIZE_MAX / size) return NULL;
    return nr_alloc((size_t)count, size);
}

/* Rows are separate allocations. When row k cannot be had, the rows already
 * obtained and the pointer array are given back, so a caller never holds a
 * half-built matrix and nothing leaks. */
static void** any_matrix(int NbCol, int NbLig, size_t elem)
{
    void** rows = (void**)zero_block(NbLig, sizeof(void*));
    if (!rows) return NULL;
    for (int i = 0; i < NbLig; i++) {
        rows[i] = zero_block(NbCol, elem);
        if (!rows[i]) {
            for (int k = 0; k < i; k++) nr_free(rows[k]);
            nr_free(rows);
            return NULL;
        }
    }
    return rows;
}

static void any_release(void** Mat, int NbLig)
{
    if (!Mat) return;
    for (int i = 0; i < NbLig; i++) nr_free(Mat[i]);
    nr_free(Mat);
}

static void vector_release(void* Mat)
{
    if (Mat) nr_free(Mat);
}

// The arguments are a name prefix and a type: neither can take parentheses.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define NR_MATRIX(prefix, T)                                                                                  \
    extern "C" T** prefix##matrice(int NbCol, int NbLig) { return (T**)any_matrix(NbCol, NbLig, sizeof(T)); } \
    extern "C" void fr##prefix##matrice(T** Mat, int NbLig) { any_release((void**)Mat, NbLig); }

#define NR_VECTOR(prefix, T)                                                              \
    extern "C" T* prefix##vecteur(int NbCol) { return (T*)zero_block(NbCol, sizeof(T)); } \
    extern "C" void fr##prefix##vecteur(T* Mat) { vector_release(Mat); }
// NOLINTEND(bugprone-macro-parentheses)

NR_MATRIX(f, float)
NR_MATRIX(uc, unsigned char)
NR_MATRIX(us, unsigned short)
NR_MATRIX(s, short)
NR_MATRIX(i, int)
NR_MATRIX(d, double)
NR_MATRIX(ld, long double)

NR_VECTOR(uc, unsigned char)
NR_VECTOR(us, unsigned short)
NR_VECTOR(s, short)
NR_VECTOR(i, int)
NR_VECTOR(d, double)
NR_VECTOR(f, float)
