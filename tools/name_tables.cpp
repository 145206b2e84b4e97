#include "tools/name_tables.h"

namespace regtools {
namespace {

// Accented letters are written as Windows-1252 escapes; a literal is split
// ("Sch\xE4" "fer") where the next letter would read as a hex digit.
NameTables MakeTables() {
  NameTables t;
  t.male_early = {"John", "John", "John", "John", "William", "William", "William",
                  "Thomas", "Thomas", "Thomas", "Richard", "Richard", "Robert",
                  "Robert", "Henry", "Edward", "George", "Francis", "Nicholas",
                  "Christopher", "Walter", "Roger", "Hugh", "Humphrey", "Ralph",
                  "Edmund", "Anthony", "Peter", "Philip", "Giles", "Ambrose",
                  "Bartholomew", "Lawrence", "Gabriel", "Simon", "Matthew",
                  "James", "Samuel"};
  t.male_late = {"John", "John", "John", "William", "William", "William", "Thomas",
                 "Thomas", "James", "James", "George", "George", "Joseph", "Joseph",
                 "Samuel", "Benjamin", "Daniel", "Charles", "Richard", "Robert",
                 "Henry", "Edward", "Jonathan", "Nathaniel", "Isaac", "Abraham",
                 "Josiah", "Stephen", "Matthew", "Jacob", "Joshua", "Timothy",
                 "Francis"};
  t.female_early = {"Mary", "Mary", "Mary", "Elizabeth", "Elizabeth", "Elizabeth",
                    "Anne", "Anne", "Joan", "Joan", "Margaret", "Margaret", "Alice",
                    "Agnes", "Katherine", "Ellen", "Isabel", "Dorothy", "Bridget",
                    "Jane", "Susan", "Judith", "Prudence", "Mercy", "Grace",
                    "Frances", "Temperance", "Christian"};
  t.female_late = {"Mary", "Mary", "Mary", "Elizabeth", "Elizabeth", "Sarah",
                   "Sarah", "Ann", "Ann", "Hannah", "Hannah", "Martha", "Susanna",
                   "Jane", "Margaret", "Rebecca", "Frances", "Charlotte", "Betty",
                   "Phoebe", "Hester", "Rachel", "Lydia", "Esther", "Abigail",
                   "Catherine", "Grace", "Lucy"};
  t.male_foreign = {"Fran\xE7ois", "J\xE9r\xF4me", "Andr\xE9", "Pierre", "Jacques",
                    "\xC9tienne", "J\xFCrgen", "Johann", "Georg", "Hans", "Jan",
                    "Pieter", "Ren\xE9", "No\xEBl", "Matth\xE4us"};
  t.female_foreign = {"Ren\xE9" "e", "H\xE9l\xE8ne", "Agn\xE8s", "Marie", "Madeleine",
                      "\xC9lisabeth", "Anna Maria", "Zo\xEB", "Margaretha", "Barbara",
                      "Catharina", "Susanne", "Th\xE9r\xE8se", "Ang\xE9lique", "Gertrud"};

  t.surnames = {
      {{"Smith", "Smyth", "Smithe"}},      {{"Johnson", "Jonson", "Johnsone"}},
      {{"Philips", "Phillips", "Phillipps"}}, {{"Thompson", "Tomson", "Thomson"}},
      {{"Clark", "Clarke", "Clerk", "Clerke"}}, {{"Baker", "Backer"}},
      {{"Taylor", "Tayler", "Taillor"}},   {{"Cooper", "Couper", "Cowper"}},
      {{"Wright", "Wryght", "Write"}},     {{"Turner", "Tourner"}},
      {{"Walker", "Wauker"}},              {{"Hall", "Haull"}},
      {{"Green", "Greene", "Grene"}},      {{"Wood", "Woode"}},
      {{"Harris", "Harries", "Harrys"}},   {{"Martin", "Marten", "Martyn"}},
      {{"Jackson", "Jaxon"}},              {{"White", "Whyte"}},
      {{"Brown", "Browne"}},               {{"Allen", "Allin", "Alleyn"}},
      {{"Cook", "Cooke"}},                 {{"Moore", "More", "Moor"}},
      {{"Davis", "Davies", "Davys"}},      {{"Hughes", "Hewes", "Hewse"}},
      {{"Lewis", "Lewes"}},                {{"Robinson", "Robynson"}},
      {{"Ward", "Warde"}},                 {{"Harrison", "Harryson"}},
      {{"Parker"}},                        {{"Carter", "Cartar"}},
      {{"Mason", "Masson"}},               {{"Fletcher", "Flecher"}},
      {{"Hill", "Hyll"}},                  {{"Bennett", "Bennet", "Benet"}},
      {{"Dixon", "Dickson"}},              {{"Kirby", "Kirkby"}},
      {{"Stevens", "Stephens"}},           {{"Hopkins", "Hopkyns"}},
      {{"Pearce", "Pierce", "Peirce"}},    {{"Rogers", "Rodgers"}},
      {{"Shepherd", "Shepard", "Sheppard"}}, {{"Fisher", "Fysher"}},
      {{"Saunders", "Sanders"}},           {{"Cole", "Coale"}},
      {{"Whitaker", "Whittaker"}},         {{"Hayward", "Haward", "Heyward"}},
      {{"Bailey", "Bayley", "Baily"}},     {{"Page", "Paige"}},
      {{"Kemp", "Kempe"}},                 {{"Prior", "Pryor"}},
      {{"Gregory", "Gregorie"}},           {{"Goodwin", "Goodwyn"}},
      {{"Nash", "Naish"}},                 {{"Osborne", "Osborn", "Osburne"}},
      {{"Bradley", "Bradly"}},             {{"Chapman"}},
      {{"Webb", "Webbe"}},                 {{"Palmer", "Pallmer"}},
      {{"Foster", "Forster"}},             {{"Hunt", "Hunte"}},
      {{"Jenkins", "Jenkyns"}},            {{"Lambert", "Lambart"}},
      {{"Marsh", "Marshe"}},               {{"Norris", "Norrice"}},
      {{"Perkins", "Parkins", "Perkyns"}}, {{"Reeve", "Reeves", "Reve"}},
      {{"Simmons", "Symonds", "Simmonds"}}, {{"Tucker"}},
      {{"Vaughan", "Vaughn"}},             {{"Wilkinson", "Wilkenson"}},
      {{"Young", "Yonge"}},                {{"Aldridge", "Aldrich"}},
      {{"Barnes", "Barns"}},               {{"Godfrey", "Godfery"}},
      {{"Lucas"}},                         {{"Blackwell", "Blakwell"}},
  };
  t.foreign_surnames = {
      {{"M\xFCller", "Muller", "Miller"}},  {{"Lef\xE8vre", "Lefebvre", "Lefever"}},
      {{"Dupr\xE9", "Dupree", "Duprey"}},   {{"Sch\xE4" "fer", "Schaefer", "Shaffer"}},
      {{"K\xF6hler", "Koehler", "Keeler"}}, {{"Dubois", "Duboys"}},
      {{"Gaultier", "Gautier", "Gotier"}},  {{"B\xE9nard", "Benard", "Bennard"}},
      {{"de la Fontaine", "Delafontaine"}}, {{"van der Berg", "Vanderberg"}},
      {{"de Vries", "Devries"}},            {{"Wei\xDF", "Weiss", "Wise"}},
      {{"Schr\xF6" "der", "Schroeder", "Shrader"}}, {{"Br\xFCnner", "Brunner"}},
      {{"H\xE9" "bert", "Hebert"}},         {{"Girard", "Girarde"}},
      {{"Rousseau", "Russeau"}},
  };

  t.dedications = {"St Mary", "St Peter", "Holy Trinity", "All Saints",
                   "St Andrew", "St Michael", "St John the Baptist", "St Giles",
                   "St Nicholas", "St Margaret", "St Lawrence", "St Botolph"};
  t.places = {"Ashcombe", "Brackley Green", "Marston Parva", "Kingsbridge",
              "Wenford", "Hollowell", "Stoke Ferrers", "Little Dunham",
              "Elmsworth", "Thornby", "Whitchurch Canon", "Middle Aston",
              "Haddon Magna", "Cranbrook Heath", "Netherby", "Fenwick",
              "Sutton Lacy", "Holme Wyke", "Broadmere", "Upper Slade",
              "Westbury Abbas", "Coldridge", "Barrow Hythe", "Long Compton"};
  t.meetings = {"Independent Meeting", "Baptist Meeting", "Presbyterian Meeting",
                "Friends Meeting House"};
  t.courts = {"Archdeaconry of", "Consistory Court of", "Peculiar Court of",
              "Deanery of"};
  t.ports = {"Bristol", "London", "Plymouth", "Gravesend", "Dartmouth",
             "Southampton", "Weymouth", "Rotterdam", "Liverpool", "Cowes"};
  t.ships = {"Abigail", "Elizabeth and Ann", "Mary and John", "Hopewell",
             "Increase", "Globe", "Speedwell", "Friendship", "Two Brothers",
             "Providence", "Charming Nancy", "Samuel", "Lyon", "Planter",
             "Blessing", "Diligence", "Recovery", "Loyal Judith"};
  t.destinations = {"Virginia", "New England", "Barbados", "Maryland",
                    "Pennsylvania", "Carolina", "Jamaica", "New York"};

  t.occupations = {"labourer", "labourer", "labourer", "husbandman", "husbandman",
                   "yeoman", "yeoman", "weaver", "blacksmith", "carpenter", "tailor",
                   "cordwainer", "mariner", "miller", "butcher", "clothier", "gent.",
                   "thatcher", "mason", "wheelwright", "shepherd", "tanner", "glover",
                   "baker", "fuller", "sawyer", "cooper", "servant"};
  t.groom_terms = {"of this parish", "of this parish", "sojourner", "bachelor"};
  t.bride_terms = {"spinster", "spinster", "spinster", "of this parish",
                   "of this parish", "widow", "servant", "singlewoman",
                   "spinster, a minor"};
  t.member_terms = {"admitted", "admitted", "admitted by letter",
                    "received on profession", "baptized and admitted",
                    "dismissed by letter", "restored", "removed", "deceased"};
  t.member_wife_terms = {"his wife", "his wife", "his wife, admitted",
                         "his wife, by letter", "his wife, received"};
  t.executor_terms = {"relict, extx", "relict, extx", "widow and executrix",
                      "son, exor", "brother, exor", "daughter, extx",
                      "kinsman, admor", "relict, admx"};

  t.baptism_notes = {"born the week before", "privately baptised, received later",
                     "buried the same week", "father late of Wenford", "a twin",
                     "mother a widow", "private baptism", "the father a soldier",
                     "sponsors by proxy", "entered by the clerk out of order",
                     "(base born)"};
  t.marriage_notes = {"by licence", "banns thrice published", "both of this parish",
                      "with consent of parents", "married by Mr Gale, curate",
                      "he of Wenford, she of this parish", "by licence of the surrogate"};
  t.member_notes = {"removed to Bristol", "dismissed to the church at Wenford",
                    "restored after repentance", "died in the faith",
                    "dwelling at Thornby", "(his letter read at the meeting)"};
  t.will_notes = {"proved by the executrix", "inventory exhibited",
                  "codicil of the same date", "administration with will annexed",
                  "goods in Ashcombe and Wenford", "nuncupative will"};
  t.passenger_notes = {"with children Thomas, Anne and Mary", "with two servants",
                       "indentured for four years", "died at sea", "paid passage",
                       "from the Palatinate", "from Rochelle, for religion",
                       "with one child at the breast"};
  t.remarks = {"Memorandum: the register was kept this year by the parish clerk",
               "Note: leaf damaged, some entries lost",
               "Transcriber's note: ink faded on this page",
               "Memorandum: no entries made during the late troubles",
               "Here the hand changes",
               "Examined by the churchwardens",
               "Note: entries on this page out of order in the original",
               "Copied from the bishop's transcript",
               "Margin: see the register of Wenford"};
  return t;
}

}  // namespace

const NameTables& Names() {
  static const NameTables tables = MakeTables();
  return tables;
}

}  // namespace regtools
