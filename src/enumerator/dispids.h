/* DISPIDs of IDriverEnumerator that the library's own code names, defined once:
   the type library (TarnDriver.idl includes this file) and the class read them here. */
#ifndef TARN_ENUMERATOR_DISPIDS_H
#define TARN_ENUMERATOR_DISPIDS_H

#define TARN_DISPID_ENUMERATE_PORTS 100

#endif
