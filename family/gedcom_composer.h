// "Create GEDCOM": both family tables as the lines of a lineage-linked
// GEDCOM 5.5.1 file.
//
// Lines (Windows-1252 text, one GEDCOM line each; the file is written as
// UTF-8 without byte order mark, each line ended by CR LF):
//   0 HEAD / 1 SOUR QUORVANE / 2 VERS 1.0 / 2 NAME Quorvane / 1 SUBM @U1@ /
//   1 GEDC / 2 VERS 5.5.1 / 2 FORM LINEAGE-LINKED / 1 CHAR UTF-8
//   0 @U1@ SUBM / 1 NAME <login name, "Unknown" when empty>
//   per person, in table order:
//     0 @I<Pid>@ INDI
//     1 NAME <given> /<surname>/      "(blank)" is an empty part; no blank
//                                     before the '/' without a given name
//       2 NOTE Name as written: ...   only when a part holds a '/'
//     1 SEX <M|F|U>                   left out for any other Sex
//     1 FAMS @F<fid>@ ...             spouse families
//     1 FAMC @F<fid>@ ...             families the person is a child of
//     1 NOTE Left out: child of family <fid>, in which this person is a
//            spouse                    one per such family (see Links)
//   per family, in table order:
//     0 @F<Fid>@ FAM / 1 HUSB @I<pid>@ / 1 WIFE @I<pid>@ / 1 CHIL @I<pid>@ ...
//   0 TRLR
// An '@' in a value is doubled and control characters become blanks.
//
// Names: the NAME line holds exactly one slash-delimited surname, so a '/'
// written inside a given name or a surname (a transcriber's variants,
// "Smit/Smid") is never a delimiter there: it is written as a blank, and
// readers take every word ("1 NAME Jan Johannes /Smit Smid/"). The name
// with its '/'s follows in a NOTE under the NAME line ("2 NOTE Name as
// written: Jan/Johannes Smit/Smid"). Each part is trimmed of blanks (and
// control characters) at both ends, also after its '/'s became blanks;
// blanks inside a part stay as they are.
//
// Links join existing records only and are written on both sides:
//   - child: a family's child slot (Child1 on, up to the first 0) or a
//     person's Famc gives CHIL and FAMC;
//   - spouse: a family's Husband or Wife, or a person's spouse slot (Fams1
//     on, up to the first 0), gives HUSB or WIFE and FAMS. A family keeps
//     one husband and one wife: its own fields win; a spouse slot fills an
//     empty place by the person's sex (M husband, F wife), else it is left
//     out. (An old husband 999 comes resolved with the tables.)
// A person who is a spouse of a family (as the family or the spouse slots
// settle it) is never also its child, whatever the child slots or Famc
// say: that link is left out and a NOTE under the person says so.
// Order within a record: the person's own slots first (Fams, Famc), then
// links stated only by families, in table order; a family's own slots
// first, then children stated only by their Famc, in table order.
// Consistent tables give the lines the slots and fields say, nothing more.
#pragma once

#include <string>
#include <vector>

#include "family/family_reader.h"

namespace family {

std::vector<std::string> ComposeGedcom(const FamilyTables& tables, const std::string& user);

// The file's bytes: lines converted to UTF-8, each followed by CR LF.
std::string GedcomFileBytes(const std::vector<std::string>& lines);

// True when lines are GEDCOM lines as ComposeGedcom gives them (first "0 HEAD").
bool IsGedcomText(const std::vector<std::string>& lines);

}  // namespace family
