#include "link/LinkErrors.h"

std::string LinkErrorText(int id) {
    switch (id) {
        case kErrTrapStart:
            return "Erreur Début du mode Trap";
        case kErrTrapEnd:
            return "Erreur Fin du mode Trap";
        case kErrWaitStart:
            return "Erreur Attente Start";
        case kErrWaitAck:
            return "Erreur Attente Ack";
        case kErrNoPeekReply:
            return "Erreur Pas de message Peeked";
        case kErrPeekLength:
            return "Erreur Peeked taille";
        case kErrAckReceive:
            return "Erreur Réception ACK";
        case kErrUnknown:
            return "Erreur Inconnue";
        case kErrTrapNotRunning:
            return "Erreur Trap non initialisé";
        case kErrTrapCommand:
            return "Erreur Commande Trap invalide";
        case kErrTrapNotReady:
            return "Erreur Trap non prêt";
        case kErrFlashErase:
            return "Erreur Effacement FLASH";
        case kErrLinkBusy:
            return "Erreur Attente canal DCU libre";
        case kErrAllocation:
            return "Erreur Allocation mémoire";
        case kErrFlashWrite:
            return "Erreur Ecriture FLASH";
        case kErrTrapBuffer:
            return "Erreur Taille tampon Trap invalide";
        case kErrReadUnconfirmed:
            return "Erreur Lecture non confirmée";
        case kErrOutOfStep:
            return "Erreur Canal DCU désynchronisé, faire un reset de la carte";
        case kErrInterrupted:
            return "Erreur Opération interrompue";
        default:
            return {};
    }
}
