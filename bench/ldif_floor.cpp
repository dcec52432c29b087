// The reading half of the bench floor: reads an LDIF file record by record
// with libldap's LDIF reader and touches nothing else, so that its time is
// what any loader of that file has to pay.
//   ldif_floor <file.ldif>
#include <ldap.h>
#include <stdio.h>  // ldif.h uses FILE without including it

#include <ldif.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ldif_floor <file.ldif>\n");
    return 2;
  }
  LDIFFP* fp = ldif_open(argv[1], "r");
  if (fp == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  unsigned long lineno = 0;
  char* buffer = nullptr;
  int size = 0;
  size_t records = 0;
  while (ldif_read_record(fp, &lineno, &buffer, &size) > 0) ++records;
  ber_memfree(buffer);
  ldif_close(fp);
  // Printed so that the loop cannot be dropped and the run can be checked.
  std::printf("%zu records\n", records);
  return 0;
}
