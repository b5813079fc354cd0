/* Matrix and vector allocation.
 *
 * A matrix is an array of row pointers, each row a zero-filled allocation of
 * its own; it does not record its dimensions. Allocators take the row length
 * first and the number of rows second: dmatrice(3, 2) is 2 rows of 3 doubles.
 * Every allocator returns either a complete, zero-filled result or null (zero
 * size, negative size, size overflow or memory exhausted) and prints nothing.
 */
#ifndef KESTRANOV_NRUTIL_H
#define KESTRANOV_NRUTIL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The zero-filled allocation under every allocator and the release under
 * every release function. Tests replace them to provoke the failure of one
 * particular block; null restores the defaults (calloc and free). */
typedef void* (*nr_alloc_fn)(size_t count, size_t size);
typedef void (*nr_free_fn)(void* block);
void nr_set_allocator(nr_alloc_fn alloc, nr_free_fn release);

float** fmatrice(int NbCol, int NbLig);
void frfmatrice(float** Mat, int NbLig);
unsigned char** ucmatrice(int NbCol, int NbLig);
void frucmatrice(unsigned char** Mat, int NbLig);
unsigned short** usmatrice(int NbCol, int NbLig);
void frusmatrice(unsigned short** Mat, int NbLig);
short** smatrice(int NbCol, int NbLig);
void frsmatrice(short** Mat, int NbLig);
int** imatrice(int NbCol, int NbLig);
void frimatrice(int** Mat, int NbLig);
double** dmatrice(int NbCol, int NbLig);
void frdmatrice(double** Mat, int NbLig);
long double** ldmatrice(int NbCol, int NbLig);
void frldmatrice(long double** Mat, int NbLig);

unsigned char* ucvecteur(int NbCol);
void frucvecteur(unsigned char* Mat);
unsigned short* usvecteur(int NbCol);
void frusvecteur(unsigned short* Mat);
short* svecteur(int NbCol);
void frsvecteur(short* Mat);
int* ivecteur(int NbCol);
void frivecteur(int* Mat);
double* dvecteur(int NbCol);
void frdvecteur(double* Mat);
float* fvecteur(int NbCol);
void frfvecteur(float* Mat);

#ifdef __cplusplus
}
#endif

#endif
